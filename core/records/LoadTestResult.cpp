#include "core/records/LoadTestResult.h"

#include "core/records/Localization.h"

namespace pv {

QString gradeTitle(BufferbloatGrade grade)
{
    switch (grade) {
    case BufferbloatGrade::excellent: return L("Kiváló");
    case BufferbloatGrade::good: return L("Jó");
    case BufferbloatGrade::fair: return L("Közepes");
    case BufferbloatGrade::poor: return L("Gyenge");
    case BufferbloatGrade::severe: return L("Súlyos");
    }
    return {};
}

QString gradeEverydayMeaning(BufferbloatGrade grade)
{
    switch (grade) {
    case BufferbloatGrade::excellent: return L("Videohívás közben más is tölthet a hálózaton, nem fogod észrevenni.");
    case BufferbloatGrade::good: return L("Nagy letöltés közben egy hívás enyhén akadozhat, de használható marad.");
    case BufferbloatGrade::fair: return L("Ha valaki tölt vagy feltölt, a hívásod érezhetően megakad.");
    case BufferbloatGrade::poor: return L("Egyetlen letöltés is elrontja a hívásaidat és a játékot.");
    case BufferbloatGrade::severe: return L("Terhelés alatt a kapcsolat gyakorlatilag használhatatlanná válik hívásra.");
    }
    return {};
}

QString loadSecondsText(double seconds)
{
    if (!(seconds < 9.95))
        return formatFixed(seconds, 0);
    const QString tenths = formatFixed(seconds, 1);
    return tenths.endsWith(QLatin1String(".0")) ? tenths.chopped(2) : tenths;
}

} // namespace pv
