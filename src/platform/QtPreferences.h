#pragma once

#include "platform/Preferences.h"

#include <QSettings>
#include <memory>

class QString;

namespace Plovermantle {

// Preferences kept by QSettings: the platform's native store for the application, or an INI file
// at a given path (what tests use, so they never touch the real user's settings).
class QtPreferences : public Preferences {
public:
    QtPreferences();
    explicit QtPreferences(const QString& iniFile);
    ~QtPreferences() override;

    void setString(const std::string& key, const std::string& value) override;
    std::optional<std::string> stringForKey(const std::string& key) override;

private:
    std::unique_ptr<QSettings> settings_;
};

} // namespace Plovermantle
