#include "host/ui/SettingsDialog.h"

#include "host/core/Log.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <exception>

namespace Dravelin {

namespace {

struct Access
{
    SettingsDialog::Loader load;
    SettingsDialog::Saver save;
};

std::map<QString, Access>& accessByKey()
{
    static std::map<QString, Access> map;
    return map;
}

}  // namespace

std::map<QString, SettingsDialog::Generator> SettingsDialog::m_customSettingsWidgetGenerators;

SettingsDialog::CustomSettingsWidget::CustomSettingsWidget(QWidget* parent) : QWidget(parent) {}

SettingsDialog::CustomSettingsWidget::~CustomSettingsWidget() = default;

QString SettingsDialog::CustomSettingsWidget::title() const
{
    return windowTitle();
}

void SettingsDialog::addCustomSettingsWidget(const QString& key, Generator generator, Loader load, Saver save)
{
    if (!load)
        load = [key] { return GlobalSettings::load(key); };
    if (!save)
        save = [key](const Properties& p) { GlobalSettings::store(key, p); };
    m_customSettingsWidgetGenerators[key] = std::move(generator);
    accessByKey()[key] = Access{std::move(load), std::move(save)};
}

bool SettingsDialog::removeCustomSettingsWidget(const QString& key)
{
    accessByKey().erase(key);
    return m_customSettingsWidgetGenerators.erase(key) > 0;
}

QString SettingsDialog::titleFromKey(const QString& key)
{
    // "Dravelin::DicomPluginSettings" -> "Dicom Plugin"
    QString name = key.section(QStringLiteral("::"), -1);
    if (name.endsWith(QLatin1String("Settings")) && name.size() > 8)
        name.chop(8);
    static const QRegularExpression boundary(QStringLiteral("([a-z0-9])([A-Z])"));
    return name.replace(boundary, QStringLiteral("\\1 \\2"));
}

SettingsDialog::SettingsDialog(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(tr("Settings"));
    m_pageList = new QListWidget(this);
    m_pageList->setObjectName("pageList");
    m_stack = new QStackedWidget(this);
    auto* buttons =
        new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Apply, this);
    buttons->setObjectName("buttonBox");

    for (const auto& entry : m_customSettingsWidgetGenerators) {
        const QString& key = entry.first;
        CustomSettingsWidget* widget = nullptr;
        try {
            widget = entry.second ? entry.second() : nullptr;
        } catch (const std::exception& e) {
            Log::log(4, "SettingsDialog", "Cannot create the settings page " + key + ": " + e.what());
        } catch (...) {
            Log::log(4, "SettingsDialog", "Cannot create the settings page " + key);
        }
        if (!widget)
            continue;
        const auto access = accessByKey().find(key);
        if (access != accessByKey().end() && access->second.load) {
            const Properties current = access->second.load();
            widget->configure(&current);
        }
        auto* scroll = new QScrollArea(m_stack);
        scroll->setWidgetResizable(true);
        scroll->setFrameShape(QFrame::NoFrame);
        scroll->setWidget(widget);
        m_stack->addWidget(scroll);
        const QString title = widget->title().isEmpty() ? titleFromKey(key) : widget->title();
        m_pageList->addItem(title);
        m_pages.push_back(Page{key, widget});
    }
    m_pageList->setMaximumWidth(std::max(140, m_pageList->sizeHintForColumn(0) + 24));
    connect(m_pageList, &QListWidget::currentRowChanged, m_stack, &QStackedWidget::setCurrentIndex);
    m_pageList->setCurrentRow(m_pages.empty() ? -1 : 0);

    connect(buttons, &QDialogButtonBox::accepted, this, &SettingsDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &SettingsDialog::reject);
    connect(buttons->button(QDialogButtonBox::Apply), &QPushButton::clicked, this, &SettingsDialog::apply);

    auto* body = new QHBoxLayout;
    body->addWidget(m_pageList);
    body->addWidget(m_stack, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(body, 1);
    layout->addWidget(buttons);
    resize(760, 520);
}

SettingsDialog::~SettingsDialog() = default;

QStringList SettingsDialog::pageKeys() const
{
    QStringList keys;
    for (const Page& page : m_pages)
        keys << page.key;
    return keys;
}

SettingsDialog::CustomSettingsWidget* SettingsDialog::page(const QString& key) const
{
    for (const Page& page : m_pages)
        if (page.key == key)
            return page.widget;
    return nullptr;
}

void SettingsDialog::setCurrentPage(const QString& key)
{
    const int index = pageKeys().indexOf(key);
    if (index >= 0)
        m_pageList->setCurrentRow(index);
}

void SettingsDialog::apply()
{
    for (const Page& page : m_pages) {
        Properties edited(page.key);
        page.widget->configuration(&edited);
        const auto access = accessByKey().find(page.key);
        // A page whose registration was removed while the dialog was open keeps its edits.
        if (access == accessByKey().end() || !access->second.save)
            continue;
        try {
            access->second.save(edited);
        } catch (const std::exception& e) {
            Log::log(4, "SettingsDialog", "Cannot store the settings " + page.key + ": " + e.what());
        }
    }
}

void SettingsDialog::accept()
{
    apply();
    QDialog::accept();
}

}  // namespace Dravelin

#include "moc_SettingsDialog.cpp"
