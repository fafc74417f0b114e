#pragma once

#include <QIcon>
#include <QString>

class QGroupBox;

namespace Dravelin::QtHelpers {

// The host icon `name` ("Warning.png", "IconOptions.png", "ButtonClear.png", ...) with every
// size drawn for it (16 to 64 pixels), so that each use gets a sharp picture. A resource
// path (":/...") or file path is used as it is. Unknown names give a null icon (logged).
QIcon generateMultiSizeIcon(const QString& name);

// Turns `box` into a section that opens and closes by clicking its title: an arrow before
// the title shows the state, the contents are hidden while closed.
void makeExpandable(QGroupBox* box, bool expanded = false);

}  // namespace Dravelin::QtHelpers
