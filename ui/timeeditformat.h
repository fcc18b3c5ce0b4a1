#ifndef TIMEEDITFORMAT_H
#define TIMEEDITFORMAT_H

class QTimeEdit;

// The daily time is hours and minutes, in an edit only 80 pixels wide. The locale's own
// format stays where it shows them whole; one with seconds loses them ("08:00:00" showed
// as "08:00:0"), and one still too wide (an AM/PM) becomes "HH:mm".
void fitTimeEditFormat(QTimeEdit *edit);

#endif // TIMEEDITFORMAT_H
