#pragma once

#include <QString>

#include <utility>
#include <vector>

class QWidget;

// Pages of the gallery that show the host's own widgets.
namespace HostPages {

// The settings dialog with a page holding a parameter editor and a PACS server list.
QWidget* settingsDialog();
// The host icons at every drawn size.
QWidget* icons();
// The progress display with a few running tasks.
QWidget* progress();

}  // namespace HostPages
