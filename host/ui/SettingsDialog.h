#pragma once

#include "host/properties/Configurable.h"
#include "host/app/GlobalSettings.h"
#include "host/app/PersistentSettings.h"

#include <QDialog>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <map>
#include <type_traits>

class QListWidget;
class QStackedWidget;

namespace Dravelin {

// The application's settings dialog: one page per registered settings class, listed on the
// left. A page is a CustomSettingsWidget; it receives the current settings through
// configure() when the dialog opens, and the dialog stores what its configuration() gives
// when the user presses Ok or Apply.
//
// Pages are registered process-wide (plug-ins register theirs in init()) under the settings
// name of their settings class; registering a key again replaces its page.
class SettingsDialog : public QDialog
{
    Q_OBJECT
public:
    // A settings page: a widget that is configured like any Configurable.
    class CustomSettingsWidget : public QWidget, public Configurable
    {
    public:
        explicit CustomSettingsWidget(QWidget* parent = nullptr);
        ~CustomSettingsWidget() override;
        // The page's name in the dialog's list; empty lets the dialog derive one from the key.
        virtual QString title() const;
    };

    using Generator = std::function<CustomSettingsWidget*()>;
    using Loader = std::function<Properties()>;
    using Saver = std::function<void(const Properties&)>;

    // Settings name -> page generator, one entry per key, in key order.
    static std::map<QString, Generator> m_customSettingsWidgetGenerators;

    // Registers the page `Widget` (constructed with `args`) for the settings class `Settings`
    // under GlobalSettings::settingsName<Settings>(). The page is configured with a fresh
    // Settings object's configuration and its result configures a fresh Settings object,
    // which is stored (a PersistentSettings stores itself).
    template <typename Settings, typename Widget, typename... Args>
    static void addCustomSettingsWidget(Args... args)
    {
        static_assert(std::is_base_of_v<CustomSettingsWidget, Widget>, "pages derive from CustomSettingsWidget");
        static_assert(std::is_base_of_v<Configurable, Settings>, "settings classes are Configurable");
        const QString key = GlobalSettings::settingsName<Settings>();
        Loader load = [key] {
            Settings settings;
            if constexpr (!std::is_base_of_v<PersistentSettings, Settings>)
                GlobalSettings::load(settings, key);
            Properties p(key);
            settings.configuration(&p);
            return p;
        };
        Saver save = [key](const Properties& p) {
            Settings settings;
            if constexpr (!std::is_base_of_v<PersistentSettings, Settings>)
                GlobalSettings::load(settings, key);
            settings.configure(&p);
            if constexpr (!std::is_base_of_v<PersistentSettings, Settings>) {
                Properties stored(key);
                settings.configuration(&stored);
                GlobalSettings::store(key, stored);
            }
        };
        addCustomSettingsWidget(
            key, [args...]() -> CustomSettingsWidget* { return new Widget(args...); }, load, save);
    }
    // The same for a key without a settings class: the page reads and writes the block stored
    // under `key` (or what `load` and `save` do, when given).
    static void addCustomSettingsWidget(const QString& key, Generator generator, Loader load = {}, Saver save = {});
    static bool removeCustomSettingsWidget(const QString& key);

    explicit SettingsDialog(QWidget* parent = nullptr);
    ~SettingsDialog() override;

    // Keys of the pages this dialog shows, in list order.
    QStringList pageKeys() const;
    CustomSettingsWidget* page(const QString& key) const;
    void setCurrentPage(const QString& key);

    // Stores every page's configuration.
    void apply();
    void accept() override;

private:
    struct Page
    {
        QString key;
        CustomSettingsWidget* widget;
    };
    static QString titleFromKey(const QString& key);

    QListWidget* m_pageList = nullptr;
    QStackedWidget* m_stack = nullptr;
    std::vector<Page> m_pages;
};

}  // namespace Dravelin
