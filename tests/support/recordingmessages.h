#pragma once

#include "ui/usermessages.h"

#include <QStringList>

// Records the messages that would have been shown, instead of blocking on a dialog.
class RecordingMessages : public UserMessages
{
public:
    QStringList shown;
    void show(const QString &text) override { shown.append(text); }
};
