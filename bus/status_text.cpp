#include "status_text.h"

QString statusText(int code)
{
    switch (code) {
    case 0: return QStringLiteral("Ok");
    case 1: return QStringLiteral("Durchfluss im Solarkreis blockiert oder Pumpe defekt");
    case 2: return QStringLiteral("Luft in der Anlage");
    case 3: return QStringLiteral("Kein Volumenstrom im Frostschutz");
    case 4: return QStringLiteral("Vorlauf- und Rücklauf des Kollektors vertauscht");
    case 5: return QStringLiteral("Rückschlagklappe undicht (Fehlzirkulation gegen Pumprichtung)");
    case 6: return QStringLiteral("Falsche Uhrzeit");
    case 7: return QStringLiteral("Druckabfall in der Anlage");
    case 8: return QStringLiteral("Volumenstrom zu hoch");
    case 9: return QStringLiteral("Hydraulischer Anschluss fehlerhaft (Fehlzirkulation in Pumprichtung)");
    case 10: return QStringLiteral("Anlage nicht frostsicher");
    case 11: return QStringLiteral("Keine permanente Spannungsversorgung");
    case 12: return QStringLiteral("Speicherfühler falsch gesetzt, ULV defekt oder Wärmetauscher verkalkt");
    case 13: return QStringLiteral("Volumenstrom zu niedrig");
    case 14: return QStringLiteral("Speicher unterkühlt");
    case 22: return QStringLiteral("Ausfall Kollektorfühler (TSA)");
    case 23: return QStringLiteral("Ausfall Fühler TSE");
    case 24: return QStringLiteral("Ausfall Fühler TWU");
    case 26: return QStringLiteral("Ausfall Fühler TW2");
    case 27: return QStringLiteral("Ausfall Außensensor (TWA)");
    case 34: return QStringLiteral("Speicher überhitzt");
    case 35: return QStringLiteral("Speicher 2 überhitzt");
    case 50: return QStringLiteral("Frostgefahr");
    default: return QStringLiteral("Fehler unbekannt (%1)").arg(code);
    }
}
