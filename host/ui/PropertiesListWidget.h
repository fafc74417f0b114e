#pragma once

#include "host/properties/Properties.h"

#include <QWidget>

#include <vector>

class QListWidget;
class QPushButton;

namespace Dravelin {

class PropertiesWidget;

// Edits a list of records of one shape (servers, presets): each entry is a nested block with a
// unique, non-empty name, shaped by the template. An entry holds exactly the template's
// parameters, of the template's kinds and with its attributes: values that do not convert or
// lie outside the template's limits fall back to the template's default (logged), parameters
// the template does not know are dropped. The user adds entries (asked for a name) and removes
// them; the current entry is edited in a PropertiesWidget beside the list.
class PropertiesListWidget : public QWidget
{
    Q_OBJECT
public:
    explicit PropertiesListWidget(QWidget* parent = nullptr);
    PropertiesListWidget(const Properties& entryTemplate, QWidget* parent = nullptr);
    ~PropertiesListWidget() override;

    // The shape of an entry; existing entries are reshaped.
    void setTemplate(const Properties& entryTemplate);
    const Properties& entryTemplate() const { return m_template; }

    // One entry per nested block of `block` (none for null); repeated or empty names are
    // skipped (logged).
    void setEntries(const Properties* block);
    // Appends one nested block per entry (values only) to `block`.
    void configuration(Properties* block) const;
    const std::vector<Properties>& entries() const { return m_entries; }
    int count() const { return static_cast<int>(m_entries.size()); }

    // Appends an entry with the template's defaults and makes it current; false (nothing
    // added) for an empty name or one already in the list.
    bool addEntry(const QString& name);
    bool removeEntry(int index);
    int currentIndex() const;
    void setCurrentIndex(int index);

    // The template reshaping of one record.
    Properties shaped(const Properties& entry) const;

    // The editor of the current entry.
    PropertiesWidget* entryEditor() const { return m_editor; }

    // Text of the name prompt shown by the Add button.
    void setNamePrompt(const QString& title, const QString& label);

Q_SIGNALS:
    void entriesChanged();

private:
    void onAddClicked();
    void onCurrentRowChanged(int row);
    void refreshList(int current);
    bool isUsable(const QString& name, bool log) const;

    Properties m_template;
    std::vector<Properties> m_entries;
    QListWidget* m_list = nullptr;
    QPushButton* m_addButton = nullptr;
    QPushButton* m_removeButton = nullptr;
    PropertiesWidget* m_editor = nullptr;
    QString m_promptTitle;
    QString m_promptLabel;
};

}  // namespace Dravelin
