#pragma once
// The date settings of a QLocale in the form the date rules read them.
#include <QLocale>

#include "util/DateUtil.h"

// Short date and time formats in the rules' letters (d, m, y, h, n, s, the
// slash for the date separator), the separator, month, day and AM/PM names.
DateLocale DateLocaleFromQLocale(const QLocale &locale);
// A Qt date pattern ("d.M.yyyy") in the rules' letters ("d/m/yyyy"), and the
// date separator found in it ('/' when there is none).
std::string ConvertQtDateFormat(const QString &pattern, char &separator);
