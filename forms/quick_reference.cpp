#include "forms/quick_reference.h"

QString quickReferenceText()
{
    // The source is UTF-8, so "ß" and "ü" arrive here as two bytes each.
    static const char text[] =
        "TSA\t: Kollektortemperatur\n"
        "TW\t:  Speicher\n"
        "TSV\t: Solarvorlauf\n"
        "TAM\t: Außentemperatur\n"
        "TSE\t: Solarrücklauf\n";
    return QString::fromUtf8(text);
}
