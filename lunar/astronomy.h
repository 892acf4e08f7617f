// Sun and new-moon positions for deriving the lunar calendar tables.
//
// Only the table generator and the tests use this; the calendar itself reads
// precomputed tables. Methods follow J. Meeus, "Astronomical Algorithms"
// (2nd ed., 1998): apparent solar longitude from the abridged VSOP87 Earth
// series of Appendix III with FK5 correction, nutation (ch. 22) and aberration
// (ch. 25); mean new moon plus periodic and planetary corrections (ch. 49).
// Delta T is the Espenak-Meeus polynomial set (NASA Five Millennium Canon of
// Solar Eclipses, 2006). Julian Days are "JD" in UT and "JDE" in TT.
#pragma once

namespace lunar::astro {

// JD of 1970-01-01 00:00 UT, the zero of lunar::DayNumber.
inline constexpr double kJdUnixEpoch = 2440587.5;

// TT - UT in seconds for a decimal Gregorian year.
double DeltaTSeconds(double decimalYear);

double UtToTt(double jd);
double TtToUt(double jde);

// Apparent geocentric ecliptic longitude of the Sun, degrees in [0, 360).
double ApparentSolarLongitude(double jde);

// The instant (JDE) nearest `jdeGuess` at which the apparent solar longitude
// equals `degrees`. The guess must be within a few days.
double SolarLongitudeInstant(double degrees, double jdeGuess);

// Solar term `term` of Gregorian `year` as JD (UT). Terms count from 小寒
// (0, longitude 285 degrees) in steps of 15 degrees to 冬至 (23, 270 degrees).
double SolarTermUt(int year, int term);

// True new moon number k (k = 0 is the one of 2000-01-06) as JDE.
double NewMoonJde(int k);
double NewMoonUt(int k);

// The k of the first new moon at or after `jd` (UT).
int NewMoonIndexAtOrAfter(double jd);

}  // namespace lunar::astro
