#pragma once

#include "host/properties/Properties.h"
#include "host/properties/Signal.h"
#include "host/data/DataComponent.h"

#include <Eigen/Geometry>
#include <QMetaType>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

namespace Dravelin {

class DataGroup;

// Base of everything the data model holds: image sets, point clouds, meshes and groups.
//
// Kinds (Data::kind(), and the `kind` arguments of the list and model queries) are numbers
// so that they can be stored in settings and compared across libraries:
//   0  any data (as a query argument: no kind filter)
//   1  a single 2D image
//   2  a single volume (more than one slice)
//   3  a series of images or volumes (frames of a cine, phases of a time series)
//   4  a point cloud
//   5  a triangle mesh
//   6  a group of data
// Modalities (Data::modality()) likewise; 0 means unknown, and as a query argument any.
class Data
{
public:
    enum Kind : int {
        KindAny = 0,
        KindImage = 1,
        KindVolume = 2,
        KindImageSeries = 3,
        KindPointCloud = 4,
        KindMesh = 5,
        KindGroup = 6,
    };

    enum Modality : int {
        ModalityUnknown = 0,
        ModalityCT = 1,
        ModalityMR = 2,
        ModalityUS = 3,
        ModalityPET = 4,    // PT
        ModalityNM = 5,     // nuclear medicine, SPECT
        ModalityXRay = 6,   // CR, DX, XA, RF, MG, IO, PX
        ModalityPhoto = 7,  // secondary capture, visible light, OT
        ModalityLabel = 8,  // label maps and segmentations
        ModalityRTDose = 9,
        ModalityRTStruct = 10,
    };

    Data();
    virtual ~Data();
    Data(const Data&) = delete;
    Data& operator=(const Data&) = delete;

    virtual int kind() const = 0;
    // A deep copy: name, modality, properties and every component that can be cloned. The
    // copy belongs to no group and no model.
    virtual std::unique_ptr<Data> copy() const = 0;
    // The extent in world coordinates (millimetres); empty when the data has none.
    virtual std::optional<Eigen::AlignedBox3d> bounds() const;

    const QString& name() const { return m_name; }
    // Inside a DataModel, rename through DataModel::rename, which keeps names unique.
    void setName(const QString& name) { m_name = name; }

    int modality() const { return m_modality; }
    void setModality(int modality) { m_modality = modality; }

    // Free-form properties such as "filename" (where the data was loaded from). May be null.
    Properties* properties() const { return m_properties.get(); }
    void setProperties(std::unique_ptr<Properties> properties) { m_properties = std::move(properties); }
    // The properties, created empty (named after the data) when there are none yet.
    Properties& ensureProperties();

    // Components, owned. add returns the component for convenience; null input adds nothing.
    DataComponent* addComponent(std::unique_ptr<DataComponent> component);
    std::unique_ptr<DataComponent> takeComponent(const DataComponent* component);
    const std::vector<std::unique_ptr<DataComponent>>& components() const { return m_components; }

    // The first component whose dynamic type is T (or derives from it), or null.
    template <typename T>
    T* getComponent() const
    {
        for (const auto& c : m_components)
            if (auto* t = dynamic_cast<T*>(c.get()))
                return t;
        return nullptr;
    }
    template <typename T>
    bool hasComponent() const
    {
        return getComponent<T>() != nullptr;
    }

    // The group holding this data (not owning), or null for top-level data.
    DataGroup* parentGroup() const { return m_parent; }

    // Tell listeners (the data model and its views) that the content changed.
    void notifyChanged() const { signalChanged.notify(this); }
    Signal<const Data*> signalChanged;

    // Text of a kind or modality number, for logs and the data tree ("Volume", "CT").
    static QString kindName(int kind);
    static QString modalityName(int modality);
    // The modality number of a DICOM Modality attribute value ("CT", "MR", "PT", ...).
    static int modalityFromDicom(const QString& code);

protected:
    // Copies name, modality, properties and clonable components into `target`.
    void copyBaseTo(Data& target) const;

private:
    friend class DataGroup;
    QString m_name;
    int m_modality = ModalityUnknown;
    std::unique_ptr<Properties> m_properties;
    std::vector<std::unique_ptr<DataComponent>> m_components;
    DataGroup* m_parent = nullptr;
};

}  // namespace Dravelin

Q_DECLARE_METATYPE(Dravelin::Data*)
