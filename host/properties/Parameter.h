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

// A typed parameter. T is one of QString (text), int, double, bool.
template <typename T>
class Parameter : public ParameterBase
{
public:
    Parameter(const QString& name, const T& defaultValue, Configurable* owner = nullptr)
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
    Parameter& operator=(const T& value)
    {
        setValue(value);
        return *this;
    }

    QString typeName() const override;

    void configure(const Properties* properties) override
    {
        if (!properties || !properties->hasParam(m_name))
            return;
        QVariant v = properties->param(m_name);
        if (v.convert(qMetaTypeId<T>()))
            setValue(v.value<T>());
    }

    void configuration(Properties* properties) const override
    {
        if (!properties)
            return;
        properties->setParam(m_name, QVariant::fromValue(m_value));
        for (auto it = m_attributes.begin(); it != m_attributes.end(); ++it)
            properties->setParamAttribute(m_name, it.key(), it.value());
    }

private:
    T m_value;
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
