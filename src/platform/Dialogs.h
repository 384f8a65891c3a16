#pragma once

#include <optional>
#include <string>
#include <vector>

namespace Plovermantle {

enum class AlertStyle { Informational, Warning };

struct Alert {
    // Button titles in the order they are added; none gives the platform's single default button.
    std::vector<std::string> buttons;
    std::string messageText;
    std::string informativeText;
    AlertStyle style = AlertStyle::Informational;

    bool operator==(const Alert&) const = default;
};

// What runAlert answers for the first button added; the next buttons count up from it.
inline constexpr int alertFirstButtonReturn = 1000;
// What runAlert answers when the alert was closed without any of its buttons.
inline constexpr int alertClosedReturn = 0;

// The modal dialogs the logic shows. Each call blocks until the user answers.
class Dialogs {
public:
    virtual ~Dialogs() = default;

    // Shows the alert modally and answers which button closed it.
    virtual int runAlert(const Alert& alert) = 0;
    // Lets the user pick exactly one existing folder; nothing when they cancel.
    virtual std::optional<std::string> chooseFolder() = 0;
};

} // namespace Plovermantle
