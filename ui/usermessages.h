#pragma once

#include <QString>

// Modal messages to the user: a text with a single OK button, no icon and no title of its
// own. show() returns once the user has dismissed the message. The window passes a real
// message box; tests pass a recorder so that nothing ever blocks.
class UserMessages
{
public:
    virtual ~UserMessages() = default;
    virtual void show(const QString &text) = 0;
};
