#ifndef WARNINGBOX_H
#define WARNINGBOX_H

#include <QString>

// The one form in which the window tells the operator about a refusal or a failure:
// a modal warning with a single "确定" button. Returns once it is closed.
void showWarning(const QString &text);

#endif // WARNINGBOX_H
