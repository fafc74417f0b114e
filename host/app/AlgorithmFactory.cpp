#include "host/app/AlgorithmFactory.h"

namespace Dravelin {

AlgorithmFactory::AlgorithmFactory(QString name) : m_name(std::move(name)) {}

AlgorithmFactory::~AlgorithmFactory() = default;

bool AlgorithmFactory::addAlgorithmFactoryToFront() const
{
    return false;
}

QString AlgorithmFactory::fullId(const QString& id) const
{
    return m_name.isEmpty() ? id : m_name + QLatin1Char('.') + id;
}

bool AlgorithmFactory::addDescriptor(std::unique_ptr<AlgorithmDescriptor> descriptor)
{
    if (!descriptor)
        return false;
    for (const auto& d : m_descriptors) {
        if (d->id == descriptor->id) {
            Log::log(3, "AlgorithmFactory", "Algorithm already registered: " + descriptor->id);
            return false;
        }
    }
    m_typeToId[descriptor->type] = descriptor->id;
    m_descriptors.push_back(std::move(descriptor));
    return true;
}

const AlgorithmDescriptor* AlgorithmFactory::algorithmDescriptor(const QString& id) const
{
    for (const QString& candidate : {id, fullId(id)})
        for (const auto& d : m_descriptors)
            if (d->id == candidate)
                return d.get();
    return nullptr;
}

std::unique_ptr<Algorithm> AlgorithmFactory::instantiateAlgorithm(const QString& id, const DataList& data) const
{
    const AlgorithmDescriptor* d = algorithmDescriptor(id);
    return d && d->create ? d->create(data) : nullptr;
}

std::unique_ptr<IoAlgorithm> AlgorithmFactory::instantiateIoAlgorithm(const QString& id, const DataList& data) const
{
    const AlgorithmDescriptor* d = algorithmDescriptor(id);
    if (!d || !d->isIo())
        return nullptr;
    std::unique_ptr<Algorithm> a = instantiateAlgorithm(id, data);
    if (auto* io = dynamic_cast<IoAlgorithm*>(a.get())) {
        a.release();
        return std::unique_ptr<IoAlgorithm>(io);
    }
    return nullptr;
}

std::vector<const AlgorithmDescriptor*> AlgorithmFactory::compatibleDescriptors(const DataList& data) const
{
    std::vector<const AlgorithmDescriptor*> result;
    for (const auto& d : m_descriptors)
        if (!d->isIo() && d->isCompatible(data))
            result.push_back(d.get());
    return result;
}

std::vector<const AlgorithmDescriptor*> AlgorithmFactory::compatibleIoDescriptors(int ioMode) const
{
    return compatibleIoDescriptors(DataList(), ioMode);
}

std::vector<const AlgorithmDescriptor*> AlgorithmFactory::compatibleIoDescriptors(const DataList& data,
                                                                                  int ioMode) const
{
    std::vector<const AlgorithmDescriptor*> result;
    for (const auto& d : m_descriptors)
        if (d->ioMode == ioMode && d->isCompatible(data))
            result.push_back(d.get());
    return result;
}

std::vector<const AlgorithmDescriptor*> AlgorithmFactory::algorithmDescriptors() const
{
    std::vector<const AlgorithmDescriptor*> result;
    for (const auto& d : m_descriptors)
        result.push_back(d.get());
    return result;
}

std::vector<const AlgorithmDescriptor*> AlgorithmFactory::ioAlgorithmDescriptors() const
{
    std::vector<const AlgorithmDescriptor*> result;
    for (const auto& d : m_descriptors)
        if (d->isIo())
            result.push_back(d.get());
    return result;
}

QString AlgorithmFactory::idOf(const Algorithm& algorithm) const
{
    auto it = m_typeToId.find(typeid(algorithm));
    return it == m_typeToId.end() ? QString() : it->second;
}

}  // namespace Dravelin
