#pragma once

class QWidget;

namespace Plovermantle {

// Shows, modally over `parent`, what this app is and which version of it runs.
void showAboutBox(QWidget* parent);

} // namespace Plovermantle
