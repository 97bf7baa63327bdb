#pragma once

#include <QString>

class QWidget;

namespace tolvar {

// Tells a user who went to another window that a long job has ended: the window asks for
// attention (its task-bar entry flashes) and, where a notification service answers on the
// session bus, a desktop notification says what ended. Without a session bus or a service
// only the attention request is made.
void announceJobEnd(QWidget* window, const QString& job);

// What the notification says: "Splitting movie.mkv has ended."
QString jobEndText(const QString& job);

} // namespace tolvar
