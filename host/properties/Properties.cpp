#include "host/properties/Properties.h"

#include <algorithm>

namespace Dravelin {

Properties::Properties(QString name) : m_name(std::move(name)) {}

Properties::Properties(const Properties& other) : m_name(other.m_name), m_params(other.m_params)
{
    for (const auto& child : other.m_children)
        m_children.push_back(std::make_unique<Properties>(*child));
}

Properties& Properties::operator=(const Properties& other)
{
    if (this != &other) {
        Properties copy(other);
        m_name = std::move(copy.m_name);
        m_params = std::move(copy.m_params);
        m_children = std::move(copy.m_children);
    }
    return *this;
}

Properties::~Properties() = default;

Properties::Param* Properties::findLast(const QString& name)
{
    for (auto it = m_params.rbegin(); it != m_params.rend(); ++it)
        if (it->name == name)
            return &*it;
    return nullptr;
}

const Properties::Param* Properties::findLast(const QString& name) const
{
    return const_cast<Properties*>(this)->findLast(name);
}

void Properties::setParam(const QString& name, const QVariant& value)
{
    if (Param* p = findLast(name))
        p->value = value;
    else
        addParam(name, value);
}

void Properties::addParam(const QString& name, const QVariant& value)
{
    m_params.push_back(Param{name, value, {}});
}

bool Properties::hasParam(const QString& name) const
{
    return findLast(name) != nullptr;
}

QVariant Properties::param(const QString& name) const
{
    const Param* p = findLast(name);
    return p ? p->value : QVariant();
}

int Properties::removeParam(const QString& name)
{
    const auto before = m_params.size();
    m_params.erase(std::remove_if(m_params.begin(), m_params.end(), [&](const Param& p) { return p.name == name; }),
                   m_params.end());
    return static_cast<int>(before - m_params.size());
}

void Properties::setParamAttribute(const QString& name, const QString& key, const QString& value)
{
    if (Param* p = findLast(name))
        p->attributes.insert(key, value);
}

QMap<QString, QString> Properties::paramAttributes(const QString& name) const
{
    const Param* p = findLast(name);
    return p ? p->attributes : QMap<QString, QString>();
}

Properties* Properties::addSubProperties(const QString& name)
{
    m_children.push_back(std::make_unique<Properties>(name));
    return m_children.back().get();
}

Properties* Properties::subProperties(const QString& name)
{
    for (auto& child : m_children)
        if (child->name() == name)
            return child.get();
    return nullptr;
}

const Properties* Properties::subProperties(const QString& name) const
{
    return const_cast<Properties*>(this)->subProperties(name);
}

std::vector<const Properties*> Properties::allSubProperties() const
{
    std::vector<const Properties*> result;
    for (const auto& child : m_children)
        result.push_back(child.get());
    return result;
}

void Properties::clear()
{
    m_params.clear();
    m_children.clear();
}

bool Properties::operator==(const Properties& other) const
{
    if (m_name != other.m_name || m_params.size() != other.m_params.size() ||
        m_children.size() != other.m_children.size())
        return false;
    for (size_t i = 0; i < m_params.size(); ++i) {
        const Param& a = m_params[i];
        const Param& b = other.m_params[i];
        if (a.name != b.name || a.value.toString() != b.value.toString() || a.attributes != b.attributes)
            return false;
    }
    for (size_t i = 0; i < m_children.size(); ++i)
        if (*m_children[i] != *other.m_children[i])
            return false;
    return true;
}

}  // namespace Dravelin
