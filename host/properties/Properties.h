#pragma once

#include <QMap>
#include <QString>
#include <QVariant>

#include <memory>
#include <vector>

namespace Dravelin {

// A named block of parameters and nested blocks, in insertion order.
//
// Parameter values are QVariants holding text (QString), int, double or bool. A block may hold
// several parameters of the same name (a file may repeat one); lookups by name return the last
// one, so later entries win. Each parameter can carry free-form text attributes (a label, a
// unit, limits) that readers may ignore.
class Properties
{
public:
    struct Param
    {
        QString name;
        QVariant value;
        QMap<QString, QString> attributes;
    };

    explicit Properties(QString name = QString());
    Properties(const Properties& other);
    Properties& operator=(const Properties& other);
    ~Properties();

    const QString& name() const { return m_name; }
    void setName(const QString& name) { m_name = name; }

    // Replaces the value of the last parameter called `name`, or appends one.
    void setParam(const QString& name, const QVariant& value);
    // Appends a parameter even when one of that name exists.
    void addParam(const QString& name, const QVariant& value);
    bool hasParam(const QString& name) const;
    // The value of the last parameter called `name` (invalid when absent).
    QVariant param(const QString& name) const;
    // Removes every parameter called `name`; returns how many.
    int removeParam(const QString& name);
    void setParamAttribute(const QString& name, const QString& key, const QString& value);
    QMap<QString, QString> paramAttributes(const QString& name) const;
    const std::vector<Param>& params() const { return m_params; }

    // Appends an empty nested block and returns it (owned by this block).
    Properties* addSubProperties(const QString& name);
    // The first nested block called `name`, or null.
    Properties* subProperties(const QString& name);
    const Properties* subProperties(const QString& name) const;
    std::vector<const Properties*> allSubProperties() const;

    bool isEmpty() const { return m_params.empty() && m_children.empty(); }
    void clear();

    // Same name, parameters (names, values as text, attributes) and nested blocks, in order.
    bool operator==(const Properties& other) const;
    bool operator!=(const Properties& other) const { return !(*this == other); }

private:
    Param* findLast(const QString& name);
    const Param* findLast(const QString& name) const;

    QString m_name;
    std::vector<Param> m_params;
    std::vector<std::unique_ptr<Properties>> m_children;
};

}  // namespace Dravelin
