#pragma once

#include "host/app/Algorithm.h"
#include "host/app/AlgorithmDescriptor.h"
#include "host/app/AlgorithmUtils.h"
#include "host/app/IoAlgorithm.h"
#include "host/core/Log.h"

#include <exception>
#include <map>
#include <memory>
#include <type_traits>
#include <typeindex>
#include <vector>

namespace Dravelin {

namespace Detail {

template <typename T, typename = void>
struct HasCreateCompatible : std::false_type
{
};
template <typename T>
struct HasCreateCompatible<
    T, std::void_t<decltype(T::createCompatible(std::declval<const DataList&>(), std::declval<Algorithm**>()))>>
    : std::true_type
{
};

template <typename T, typename = void>
struct DeclaredIoMode
{
    static constexpr int value = std::is_base_of_v<IoAlgorithm, T> ? IoAlgorithm::Read : -1;
};
template <typename T>
struct DeclaredIoMode<T, std::void_t<decltype(T::kIoMode)>>
{
    static constexpr int value = T::kIoMode;
};

}  // namespace Detail

// The algorithms of one library (the host's own, or a plug-in's), by id.
//
// registerAlgorithm<T>(id, name, attributes, properties):
// - the id gets the factory's name as prefix ("DICOM" + "ShowDicomTags" -> "DICOM.ShowDicomTags");
// - an id registered before in this factory is logged ("Algorithm already registered: <id>",
//   level 3) and the first registration stays;
// - compatibility: T::createCompatible(data, nullptr) when T declares
//     static bool createCompatible(const DataList& data, Algorithm** out);
//   otherwise the data list must be empty;
// - creation: T::createCompatible(data, &out) or T's default constructor; then the factory
//   information (full id, the last level of the name, the data), configureFromGlobalSettings()
//   for IO algorithms, and the descriptor's properties. A constructor that throws is logged
//   ("Cannot create algorithm <name>: <what>", level 4) and yields null.
// IO algorithms read unless T declares `static constexpr int kIoMode = IoAlgorithm::Write`.
class AlgorithmFactory
{
public:
    explicit AlgorithmFactory(QString name = QString());
    virtual ~AlgorithmFactory();
    AlgorithmFactory(const AlgorithmFactory&) = delete;
    AlgorithmFactory& operator=(const AlgorithmFactory&) = delete;

    const QString& name() const { return m_name; }
    // True places this factory ahead of those registered before it.
    virtual bool addAlgorithmFactoryToFront() const;

    template <typename T>
    bool registerAlgorithm(const QString& id, const QString& name, const QString& attributes = QString(),
                           const Properties* properties = nullptr);

    // `id` is a full id, or one without this factory's prefix. Null for unknown ids, for
    // incompatible data and when construction failed.
    virtual std::unique_ptr<Algorithm> instantiateAlgorithm(const QString& id, const DataList& data) const;
    virtual std::unique_ptr<IoAlgorithm> instantiateIoAlgorithm(const QString& id, const DataList& data) const;

    // Algorithms other than IO ones that accept `data`, in registration order.
    virtual std::vector<const AlgorithmDescriptor*> compatibleDescriptors(const DataList& data) const;
    // IO algorithms of that mode (readers: those accepting an empty list).
    virtual std::vector<const AlgorithmDescriptor*> compatibleIoDescriptors(int ioMode) const;
    // IO algorithms of that mode that accept `data` (writers for a selection).
    virtual std::vector<const AlgorithmDescriptor*> compatibleIoDescriptors(const DataList& data, int ioMode) const;
    virtual const AlgorithmDescriptor* algorithmDescriptor(const QString& id) const;
    virtual std::vector<const AlgorithmDescriptor*> algorithmDescriptors() const;
    virtual std::vector<const AlgorithmDescriptor*> ioAlgorithmDescriptors() const;

    // The id registered for the dynamic type of `algorithm`, or empty.
    QString idOf(const Algorithm& algorithm) const;
    // "<name>.<id>", or `id` for an unnamed factory.
    QString fullId(const QString& id) const;

protected:
    // Appends the descriptor unless its id exists (logged). Returns whether it was added.
    bool addDescriptor(std::unique_ptr<AlgorithmDescriptor> descriptor);

private:
    QString m_name;
    std::vector<std::unique_ptr<AlgorithmDescriptor>> m_descriptors;
    std::map<std::type_index, QString> m_typeToId;
};

template <typename T>
bool AlgorithmFactory::registerAlgorithm(const QString& id, const QString& name, const QString& attributes,
                                         const Properties* properties)
{
    static_assert(std::is_base_of_v<Algorithm, T>, "registerAlgorithm needs an Algorithm");
    auto d = std::make_unique<AlgorithmDescriptor>();
    d->id = fullId(id);
    d->name = name;
    d->attributes = attributes;
    if (properties)
        d->properties = std::make_shared<const Properties>(*properties);
    d->ioMode = Detail::DeclaredIoMode<T>::value;
    d->type = typeid(T);

    d->isCompatible = [name](const DataList& data) {
        try {
            if constexpr (Detail::HasCreateCompatible<T>::value)
                return static_cast<bool>(T::createCompatible(data, nullptr));
            else
                return data.empty();
        } catch (const std::exception& e) {
            Log::log(4, "AlgorithmFactory", "Cannot test algorithm " + name + ": " + QString::fromUtf8(e.what()));
        } catch (...) {
            Log::log(4, "AlgorithmFactory", "Cannot test algorithm " + name + ": unknown exception");
        }
        return false;
    };

    const QString fullIdText = d->id;
    const auto shared = d->properties;
    auto compatible = d->isCompatible;
    d->create = [fullIdText, name, shared, compatible](const DataList& data) -> std::unique_ptr<Algorithm> {
        if (!compatible(data))
            return nullptr;
        try {
            std::unique_ptr<Algorithm> algorithm;
            if constexpr (Detail::HasCreateCompatible<T>::value) {
                Algorithm* out = nullptr;
                const bool ok = T::createCompatible(data, &out);
                algorithm.reset(out);
                if (!ok)
                    return nullptr;
            } else {
                algorithm = std::make_unique<T>();
            }
            if (!algorithm)
                return nullptr;
            algorithm->setFactoryInfo({fullIdText, AlgorithmUtils::parseAlgorithmName(name), data});
            if (auto* io = dynamic_cast<IoAlgorithm*>(algorithm.get()))
                io->configureFromGlobalSettings();
            if (shared && !shared->isEmpty())
                algorithm->configure(shared.get());
            return algorithm;
        } catch (const std::exception& e) {
            Log::log(4, "AlgorithmFactory", "Cannot create algorithm " + name + ": " + QString::fromUtf8(e.what()));
        } catch (...) {
            Log::log(4, "AlgorithmFactory", "Cannot create algorithm " + name + ": unknown exception");
        }
        return nullptr;
    };
    return addDescriptor(std::move(d));
}

}  // namespace Dravelin
