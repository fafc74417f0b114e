#pragma once

#include "host/properties/Properties.h"

#include <QString>
#include <QVariant>
#include <QWidget>

#include <map>

class QFormLayout;

namespace Dravelin {

// Edits the parameters of a Properties block, one labelled editor per parameter, and its
// nested blocks as titled groups. The editor follows the parameter's kind:
//   text    line edit                 (QString values)
//   int     spin box within min..max  (int values)
//   double  spin box within min..max, with `decimals` digits
//   bool    check box
//   enum    combo box of `values`     (a text value holds the choice, an int its index)
// Labels, tool tips, limits and choices come from the parameter attributes (see AttributeText).
// Values outside the limits are refused when set and clamped (and logged) when loaded.
class PropertiesWidget : public QWidget
{
    Q_OBJECT
public:
    enum class Kind { Text, Int, Double, Bool, Enum };

    explicit PropertiesWidget(QWidget* parent = nullptr);
    explicit PropertiesWidget(const Properties* properties, QWidget* parent = nullptr);
    ~PropertiesWidget() override;

    // Rebuilds the editors for a copy of `properties` (none for null).
    void setProperties(const Properties* properties);
    // The block with the edited values (nested blocks included).
    const Properties& properties() const { return m_block; }
    // Writes every parameter (value and attributes) and nested block into `properties`,
    // replacing parameters and blocks of the same names.
    void configuration(Properties* properties) const;

    // Sets a value as the user would; false when there is no such parameter, the value does
    // not fit its kind, lies outside its limits or is not one of its choices.
    bool setValue(const QString& name, const QVariant& value);
    QVariant value(const QString& name) const;
    // The editor of a parameter of this block (null when unknown).
    QWidget* editor(const QString& name) const;
    // The editor of a nested block (null when unknown).
    PropertiesWidget* nestedWidget(const QString& name) const;

    static Kind kindOf(const Properties::Param& param);

Q_SIGNALS:
    // A value changed through its editor or setValue().
    void valueChanged(const QString& name);

private:
    struct Limits
    {
        double min;
        double max;
    };
    void build();
    QWidget* createEditor(const Properties::Param& param);
    void store(const QString& name, const QVariant& value);
    static Limits limitsOf(const Properties::Param& param, Kind kind);

    Properties m_block;
    QFormLayout* m_layout = nullptr;
    std::map<QString, QWidget*> m_editors;
    std::map<QString, PropertiesWidget*> m_nested;
};

}  // namespace Dravelin
