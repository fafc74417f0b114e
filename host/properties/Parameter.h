#pragma once

#include "host/properties/Properties.h"
#include "host/properties/Signal.h"

#include <QMap>
#include <QString>
#include <QVariant>

namespace Dravelin {

class Configurable;

// One named, configurable value of an object. Subclasses decide how the value is stored in
// and read from a Properties block; a parameter registers itself with its owner so that the
// owner's configure()/configuration() reach it.
class ParameterBase
{
public:
    // Registers with `owner` when given; the owner must outlive the parameter or be the
    // object that holds it.
    ParameterBase(QString name, Configurable* owner);
    virtual ~ParameterBase();
    ParameterBase(const ParameterBase&) = delete;
    ParameterBase& operator=(const ParameterBase&) = delete;

    const QString& name() const { return m_name; }
    // "text", "int", "double", "bool", or "block" for nested blocks.
    virtual QString typeName() const = 0;

    // Reads the value from `properties` when it names this parameter; otherwise leaves it.
    virtual void configure(const Properties* properties) = 0;
    // Writes the value (and its attributes) into `properties`.
    virtual void configuration(Properties* properties) const = 0;

    // Free-form attributes (label, tooltip, limits) written along with the value.
    void setAttribute(const QString& key, const QString& value) { m_attributes.insert(key, value); }
    QString attribute(const QString& key) const { return m_attributes.value(key); }
    const QMap<QString, QString>& attributes() const { return m_attributes; }

    // Emitted after the value changed (not when an assignment keeps it).
    Signal<> signalValueChanged;

protected:
    QString m_name;
    QMap<QString, QString> m_attributes;
    Configurable* m_owner = nullptr;
};

// A parameter holding one value of type T; subclasses say how T is stored in Properties.
template <typename T>
class ValueParameter : public ParameterBase
{
public:
    ValueParameter(const QString& name, const T& defaultValue, Configurable* owner)
        : ParameterBase(name, owner), m_value(defaultValue)
    {
    }

    const T& value() const { return m_value; }
    operator const T&() const { return m_value; }  // NOLINT

    void setValue(const T& value)
    {
        if (value == m_value)
            return;
        m_value = value;
        signalValueChanged.notify();
    }

protected:
    // Writes `stored` under the parameter's name, with its attributes.
    void store(Properties* properties, const QVariant& stored) const
    {
        properties->setParam(m_name, stored);
        for (auto it = m_attributes.begin(); it != m_attributes.end(); ++it)
            properties->setParamAttribute(m_name, it.key(), it.value());
    }

    T m_value;
};

// A typed parameter. T is one of QString (text), int, double, bool.
template <typename T>
class Parameter : public ValueParameter<T>
{
public:
    Parameter(const QString& name, const T& defaultValue, Configurable* owner = nullptr)
        : ValueParameter<T>(name, defaultValue, owner)
    {
    }

    Parameter& operator=(const T& value)
    {
        this->setValue(value);
        return *this;
    }

    QString typeName() const override;

    void configure(const Properties* properties) override
    {
        if (!properties || !properties->hasParam(this->m_name))
            return;
        QVariant v = properties->param(this->m_name);
        if (v.convert(qMetaTypeId<T>()))
            this->setValue(v.value<T>());
    }

    void configuration(Properties* properties) const override
    {
        if (properties)
            this->store(properties, QVariant::fromValue(this->m_value));
    }
};

template <>
inline QString Parameter<QString>::typeName() const
{
    return QStringLiteral("text");
}
template <>
inline QString Parameter<int>::typeName() const
{
    return QStringLiteral("int");
}
template <>
inline QString Parameter<double>::typeName() const
{
    return QStringLiteral("double");
}
template <>
inline QString Parameter<bool>::typeName() const
{
    return QStringLiteral("bool");
}

}  // namespace Dravelin
