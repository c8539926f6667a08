#pragma once

#include <QString>

// What the five temperature abbreviations of the live value panel and the
// plot stand for, one line each: abbreviation, tab, colon, German name.
QString quickReferenceText();
