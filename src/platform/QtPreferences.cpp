#include "platform/QtPreferences.h"

#include <QFile>
#include <QString>
#include <QVariant>

namespace Plovermantle {

QtPreferences::QtPreferences() : settings_(std::make_unique<QSettings>()) {}

QtPreferences::QtPreferences(const QString& iniFile)
    : settings_(std::make_unique<QSettings>(iniFile, QSettings::IniFormat)) {}

QtPreferences::~QtPreferences() = default;

void QtPreferences::setString(const std::string& key, const std::string& value) {
    settings_->setValue(QString::fromStdString(key), QFile::decodeName(value.c_str()));
    // Written through at once: the setting is only ever changed by an explicit choice of the
    // user's, and a crash later in the run must not forget it.
    settings_->sync();
}

std::optional<std::string> QtPreferences::stringForKey(const std::string& key) {
    const QVariant value = settings_->value(QString::fromStdString(key));
    if (value.typeId() != QMetaType::QString) {
        return std::nullopt;
    }
    return QFile::encodeName(value.toString()).toStdString();
}

} // namespace Plovermantle
