#pragma once

#include "host/properties/Parameter.h"

#include <type_traits>
#include <vector>

namespace Dravelin {

// Parameters whose values QVariant does not hold directly: lists of integers, stored as
// comma-separated text ("1,4,7", type name "intlist"), and enumerations, stored as their
// number (type name "enum", the choices named in enumerator order by the attribute "values").

namespace ParameterStorage {
QString fromIntList(const std::vector<int>& values);
// Blanks are ignored; false (and `out` untouched) when a piece is not an integer.
bool toIntList(const QString& text, std::vector<int>& out);
}  // namespace ParameterStorage

// The shared body of both; T is std::vector<int> or an enumeration.
template <typename T>
class StoredParameter : public ValueParameter<T>
{
public:
    StoredParameter(const QString& name, const T& defaultValue, Configurable* owner)
        : ValueParameter<T>(name, defaultValue, owner)
    {
    }
    QString typeName() const override { return std::is_enum_v<T> ? QStringLiteral("enum") : QStringLiteral("intlist"); }
    void configure(const Properties* properties) override
    {
        if (!properties || !properties->hasParam(this->m_name))
            return;
        const QVariant v = properties->param(this->m_name);
        if constexpr (std::is_enum_v<T>) {
            bool ok = false;
            const int number = v.toInt(&ok);
            if (ok)
                this->setValue(static_cast<T>(number));
        } else {
            T list;
            if (ParameterStorage::toIntList(v.toString(), list))
                this->setValue(list);
        }
    }
    void configuration(Properties* properties) const override
    {
        if (!properties)
            return;
        if constexpr (std::is_enum_v<T>)
            this->store(properties, static_cast<int>(this->m_value));
        else
            this->store(properties, ParameterStorage::fromIntList(this->m_value));
    }
};

template <>
class Parameter<std::vector<int>> : public StoredParameter<std::vector<int>>
{
public:
    Parameter(const QString& name, const std::vector<int>& defaultValue = {}, Configurable* owner = nullptr)
        : StoredParameter(name, defaultValue, owner)
    {
    }
    Parameter& operator=(const std::vector<int>& value)
    {
        setValue(value);
        return *this;
    }
};

// Declares Parameter<E> for an enumeration E (at namespace Dravelin scope).
#define DRAVELIN_ENUM_PARAMETER(E)                                                           \
    template <>                                                                              \
    class Parameter<E> : public StoredParameter<E>                                           \
    {                                                                                        \
    public:                                                                                  \
        Parameter(const QString& name, const E& defaultValue, Configurable* owner = nullptr) \
            : StoredParameter(name, defaultValue, owner)                                     \
        {                                                                                    \
        }                                                                                    \
        Parameter& operator=(const E& value)                                                 \
        {                                                                                    \
            setValue(value);                                                                 \
            return *this;                                                                    \
        }                                                                                    \
    };

}  // namespace Dravelin
