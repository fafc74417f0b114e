#include "host/data/Data.h"

#include <QHash>

#include <algorithm>

namespace Dravelin {

Data::Data() = default;

Data::~Data() = default;

std::optional<Eigen::AlignedBox3d> Data::bounds() const
{
    return std::nullopt;
}

Properties& Data::ensureProperties()
{
    if (!m_properties)
        m_properties = std::make_unique<Properties>(m_name);
    return *m_properties;
}

DataComponent* Data::addComponent(std::unique_ptr<DataComponent> component)
{
    if (!component)
        return nullptr;
    m_components.push_back(std::move(component));
    return m_components.back().get();
}

std::unique_ptr<DataComponent> Data::takeComponent(const DataComponent* component)
{
    auto it =
        std::find_if(m_components.begin(), m_components.end(), [&](const auto& c) { return c.get() == component; });
    if (it == m_components.end())
        return nullptr;
    std::unique_ptr<DataComponent> taken = std::move(*it);
    m_components.erase(it);
    return taken;
}

void Data::copyBaseTo(Data& target) const
{
    target.m_name = m_name;
    target.m_modality = m_modality;
    target.m_properties = m_properties ? std::make_unique<Properties>(*m_properties) : nullptr;
    target.m_components.clear();
    for (const auto& c : m_components)
        target.addComponent(c->clone());
}

QString Data::kindName(int kind)
{
    switch (kind) {
        case KindAny: return QStringLiteral("Any");
        case KindImage: return QStringLiteral("Image");
        case KindVolume: return QStringLiteral("Volume");
        case KindImageSeries: return QStringLiteral("Image series");
        case KindPointCloud: return QStringLiteral("Point cloud");
        case KindMesh: return QStringLiteral("Mesh");
        case KindGroup: return QStringLiteral("Group");
        default: return QStringLiteral("Kind %1").arg(kind);
    }
}

QString Data::modalityName(int modality)
{
    switch (modality) {
        case ModalityUnknown: return QString();
        case ModalityCT: return QStringLiteral("CT");
        case ModalityMR: return QStringLiteral("MR");
        case ModalityUS: return QStringLiteral("US");
        case ModalityPET: return QStringLiteral("PET");
        case ModalityNM: return QStringLiteral("NM");
        case ModalityXRay: return QStringLiteral("X-ray");
        case ModalityPhoto: return QStringLiteral("Photo");
        case ModalityLabel: return QStringLiteral("Label");
        case ModalityRTDose: return QStringLiteral("RT dose");
        case ModalityRTStruct: return QStringLiteral("RT structures");
        default: return QStringLiteral("Modality %1").arg(modality);
    }
}

int Data::modalityFromDicom(const QString& code)
{
    static const QHash<QString, int> table = {
        {"CT", ModalityCT},    {"MR", ModalityMR},     {"US", ModalityUS},         {"IVUS", ModalityUS},
        {"PT", ModalityPET},   {"NM", ModalityNM},     {"ST", ModalityNM},         {"CR", ModalityXRay},
        {"DX", ModalityXRay},  {"XA", ModalityXRay},   {"RF", ModalityXRay},       {"MG", ModalityXRay},
        {"IO", ModalityXRay},  {"PX", ModalityXRay},   {"DR", ModalityXRay},       {"SC", ModalityPhoto},
        {"OT", ModalityPhoto}, {"XC", ModalityPhoto},  {"GM", ModalityPhoto},      {"SM", ModalityPhoto},
        {"ES", ModalityPhoto}, {"SEG", ModalityLabel}, {"RTDOSE", ModalityRTDose}, {"RTSTRUCT", ModalityRTStruct},
    };
    return table.value(code.trimmed().toUpper(), ModalityUnknown);
}

}  // namespace Dravelin
