#include "app/AboutBox.h"

#include "app/AppInfo.h"

#include <QMessageBox>
#include <QString>

namespace Plovermantle {

void showAboutBox(QWidget* parent) {
    const QString name = QString::fromUtf8(AppInfo::name);
    QMessageBox::about(parent, QObject::tr("About %1").arg(name),
                       QStringLiteral("<h3>%1 %2</h3><p>%3.</p>")
                           .arg(name.toHtmlEscaped(),
                                QString::fromUtf8(AppInfo::version).toHtmlEscaped(),
                                QString::fromUtf8(AppInfo::summary).toHtmlEscaped()));
}

} // namespace Plovermantle
