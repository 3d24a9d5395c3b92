// PortableMath.cpp - deterministic sine, cosine and power (see the header).
//
// The working precision is double-double: a value is an unevaluated sum
// hi + lo of two doubles with |lo| <= half an ulp of hi, giving about 106
// bits. Exact products come from Dekker's splitting (no fused multiply-add),
// exact sums from Knuth's two-sum. Polynomial terms that are small compared
// with the result are evaluated in plain double, since their rounding errors
// stay far below the final ulp.
//
// Sine and cosine: x = k pi/2 + r with pi/2 held in four parts, the first
// three short enough that k times them is exact for |k| < 2^20; r is kept in
// double-double, so arguments close to a multiple of pi/2 lose nothing to
// cancellation. Taylor polynomials on |r| <= pi/4 then give sin r or cos r,
// chosen and signed by k mod 4.
//
// Power: x^y = exp(y log x). log x = e log 2 - log c + log(1 + u), where
// x = 2^e m, c is a table value near 1/m and u = m c - 1 is formed exactly,
// |u| < 2^-9. exp w = 2^k 2^(j/128) exp(r) with |r| <= log 2 / 256. Both
// tables (log c and 2^(j/128), in double-double) are built on first use by
// series that use only the arithmetic above.
#include "base/PortableMath.h"

#include <cstdint>
#include <cstring>
#include <limits>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

struct DoubleDouble {
    double hi;
    double lo;
};

// a + b exactly, for |a| >= |b| (or a == 0).
inline DoubleDouble FastTwoSum(double a, double b) {
    const double s = a + b;
    return {s, b - (s - a)};
}

// a + b exactly, any order of magnitude.
inline DoubleDouble TwoSum(double a, double b) {
    const double s = a + b;
    const double bb = s - a;
    return {s, (a - (s - bb)) + (b - bb)};
}

// Veltkamp's split into two halves of 26 bits; |a| below 2^995.
inline void Split(double a, double* high, double* low) {
    const double t = 134217729.0 * a;  // 2^27 + 1
    *high = t - (t - a);
    *low = a - *high;
}

// a x b exactly (Dekker), barring overflow and underflow.
inline DoubleDouble TwoProduct(double a, double b) {
    const double p = a * b;
    double ah, al, bh, bl;
    Split(a, &ah, &al);
    Split(b, &bh, &bl);
    return {p, ((ah * bh - p) + ah * bl + al * bh) + al * bl};
}

inline DoubleDouble Add(DoubleDouble a, DoubleDouble b) {
    const DoubleDouble s = TwoSum(a.hi, b.hi);
    return FastTwoSum(s.hi, s.lo + (a.lo + b.lo));
}

inline DoubleDouble Add(DoubleDouble a, double b) {
    const DoubleDouble s = TwoSum(a.hi, b);
    return FastTwoSum(s.hi, s.lo + a.lo);
}

inline DoubleDouble Multiply(DoubleDouble a, DoubleDouble b) {
    const DoubleDouble p = TwoProduct(a.hi, b.hi);
    return FastTwoSum(p.hi, p.lo + (a.hi * b.lo + a.lo * b.hi));
}

inline DoubleDouble Multiply(DoubleDouble a, double b) {
    const DoubleDouble p = TwoProduct(a.hi, b);
    return FastTwoSum(p.hi, p.lo + a.lo * b);
}

inline DoubleDouble Divide(DoubleDouble a, DoubleDouble b) {
    const double q1 = a.hi / b.hi;
    const DoubleDouble r = Add(a, Multiply(b, -q1));
    const double q2 = r.hi / b.hi;
    const DoubleDouble q = FastTwoSum(q1, q2);
    const DoubleDouble r2 = Add(r, Multiply(b, -q2));
    return Add(q, r2.hi / b.hi);
}

inline DoubleDouble Square(DoubleDouble a) {
    const DoubleDouble p = TwoProduct(a.hi, a.hi);
    return FastTwoSum(p.hi, p.lo + 2.0 * a.hi * a.lo);
}

// 2 atanh(s) = log((1 + s) / (1 - s)) by its series; |s| <= 1/3.
DoubleDouble TwiceAtanh(DoubleDouble s) {
    const DoubleDouble s2 = Square(s);
    DoubleDouble power = s;
    DoubleDouble sum = s;
    for (int k = 1; k <= 40; ++k) {
        power = Multiply(power, s2);
        sum = Add(sum, Divide(power, DoubleDouble{2.0 * k + 1.0, 0.0}));
    }
    return {2.0 * sum.hi, 2.0 * sum.lo};
}

// log c for c in (0, 2): log c = 2 atanh((c - 1) / (c + 1)).
DoubleDouble LogNear1(double c) {
    return TwiceAtanh(Divide(DoubleDouble{c - 1.0, 0.0}, TwoSum(c, 1.0)));
}

// exp a for |a| <= 1 by its Taylor series.
DoubleDouble ExpSeries(DoubleDouble a) {
    DoubleDouble term{1.0, 0.0};
    DoubleDouble sum{1.0, 0.0};
    for (int k = 1; k <= 32; ++k) {
        term = Divide(Multiply(term, a), DoubleDouble{static_cast<double>(k), 0.0});
        sum = Add(sum, term);
    }
    return sum;
}

constexpr int kLogTableBits = 8;
constexpr int kLogTableSize = 1 << kLogTableBits;
constexpr int kExpTableBits = 6;  // two tables: 2^(a/64) and 2^(b/4096)
constexpr int kExpTableSize = 1 << kExpTableBits;
constexpr int kExpSteps = kExpTableSize * kExpTableSize;  // log 2 / 4096 steps

// a with its low (52 - bits) fraction bits cleared: at most bits + 1
// significant bits.
double Truncate(double a, int bits) {
    uint64_t raw;
    std::memcpy(&raw, &a, sizeof raw);
    raw &= ~((uint64_t{1} << (52 - bits)) - 1);
    std::memcpy(&a, &raw, sizeof a);
    return a;
}

struct Tables {
    DoubleDouble log2;  // log 2
    // log 2 = log2Hi + log2Lo with log2Hi short enough that e log2Hi is exact
    // for every binary exponent e of a double.
    double log2Hi, log2Lo;
    // log 2 / 4096 = stepHi + stepMid + stepLo; n stepHi and n stepMid are
    // exact for |n| < 2^22.
    double stepHi, stepMid, stepLo;
    // c_i ~ 1 / (1 + (i + 1/2) / 256) and its two 26-bit halves; -log c_i.
    double logInverse[kLogTableSize], logInverseHi[kLogTableSize], logInverseLo[kLogTableSize];
    DoubleDouble minusLogC[kLogTableSize];
    DoubleDouble exp2Coarse[kExpTableSize];  // 2^(a / 64)
    DoubleDouble exp2Fine[kExpTableSize];    // 2^(b / 4096)
    DoubleDouble inverseFactorial[11];       // 1 / n!, n = 0 ... 10
    double inverseFactorialTail[23];         // 1 / n! rounded, n = 0 ... 22

    Tables() {
        log2 = TwiceAtanh(Divide(DoubleDouble{1.0, 0.0}, DoubleDouble{3.0, 0.0}));
        log2Hi = Truncate(log2.hi, 40);
        log2Lo = (log2.hi - log2Hi) + log2.lo;
        const double step = log2.hi / kExpSteps;  // exact scalings by 2^-12
        stepHi = Truncate(step, 29);
        stepMid = Truncate(step - stepHi, 29);
        stepLo = ((step - stepHi) - stepMid) + log2.lo / kExpSteps;
        for (int i = 0; i < kLogTableSize; ++i) {
            logInverse[i] = 1.0 / (1.0 + (i + 0.5) / kLogTableSize);
            Split(logInverse[i], &logInverseHi[i], &logInverseLo[i]);
            const DoubleDouble logC = LogNear1(logInverse[i]);
            minusLogC[i] = {-logC.hi, -logC.lo};
        }
        for (int j = 0; j < kExpTableSize; ++j) {
            const DoubleDouble jLog2 = Multiply(log2, static_cast<double>(j));
            exp2Coarse[j] = ExpSeries({jLog2.hi / kExpTableSize, jLog2.lo / kExpTableSize});
            exp2Fine[j] = ExpSeries({jLog2.hi / kExpSteps, jLog2.lo / kExpSteps});
        }
        double factorial = 1.0;  // exact up to 22!
        for (int n = 0; n <= 22; ++n) {
            if (n > 0) factorial *= n;
            if (n <= 10) {
                inverseFactorial[n] = Divide(DoubleDouble{1.0, 0.0}, DoubleDouble{factorial, 0.0});
            }
            inverseFactorialTail[n] = 1.0 / factorial;
        }
    }
};

const Tables& GetTables() {
    static const Tables tables;
    return tables;
}

// pi/2 = kPiHalf1 + kPiHalf2 + kPiHalf3 + kPiHalf4 to about 2^-152; the first
// three have at most 33 significant bits, so k times them is exact for
// |k| < 2^20.
constexpr double kPiHalf1 = 0x1.921fb544p+0;
constexpr double kPiHalf2 = 0x1.0b4611a6p-34;
constexpr double kPiHalf3 = 0x1.3198a2ep-69;
constexpr double kPiHalf4 = 0x1.b839a252049c1p-104;
constexpr double kTwoOverPi = 0x1.45f306dc9c883p-1;
constexpr double kQuarterPi = 0x1.921fb54442d18p-1;  // pi/4 rounded down
constexpr double kExactReductionLimit = 1647099.0;   // below 2^20 x pi/2

// x = k pi/2 + r; returns k mod 4 and r in double-double, |r| <= pi/4 + tiny.
int ReduceQuarterTurns(double x, DoubleDouble* r) {
    const double ax = x < 0.0 ? -x : x;
    if (ax <= kQuarterPi) {
        *r = {x, 0.0};
        return 0;
    }
    const double scaled = x * kTwoOverPi;
    const int64_t k = static_cast<int64_t>(scaled < 0.0 ? scaled - 0.5 : scaled + 0.5);
    const double kd = static_cast<double>(k);
    const int quadrant = static_cast<int>(static_cast<uint64_t>(k) & 3u);
    if (ax >= kExactReductionLimit) {
        // Products no longer exact: deterministic, but only absolutely accurate.
        const DoubleDouble s = TwoSum(x - kd * kPiHalf1, -(kd * kPiHalf2));
        *r = TwoSum(s.hi, s.lo - kd * kPiHalf3);
        return quadrant;
    }
    // x - k p1 is exact (Sterbenz, and k p1 fits 53 bits); the later parts
    // are subtracted with their rounding errors kept.
    const double t = x - kd * kPiHalf1;
    const DoubleDouble s = TwoSum(t, -(kd * kPiHalf2));
    const DoubleDouble u = TwoSum(s.hi, -(kd * kPiHalf3));
    *r = TwoSum(u.hi, (s.lo + u.lo) - kd * kPiHalf4);
    return quadrant;
}

// sin r for |r| <= pi/4 + tiny, in double-double.
DoubleDouble SinKernel(DoubleDouble r, const Tables& t) {
    const DoubleDouble z = Square(r);
    // Terms from r^11 on are below 2^-28 |r|: plain double suffices.
    double tail = 0.0;
    for (int n = 21; n >= 11; n -= 2) {
        tail = tail * z.hi + ((n & 2) ? -t.inverseFactorialTail[n] : t.inverseFactorialTail[n]);
    }
    DoubleDouble p{tail, 0.0};
    for (int n = 9; n >= 1; n -= 2) {
        const DoubleDouble c = t.inverseFactorial[n];
        p = Add(Multiply(p, z), (n & 2) ? DoubleDouble{-c.hi, -c.lo} : c);
    }
    return Multiply(p, r);
}

// cos r for |r| <= pi/4 + tiny, in double-double.
DoubleDouble CosKernel(DoubleDouble r, const Tables& t) {
    const DoubleDouble z = Square(r);
    // Terms from r^12 on are below 2^-33: plain double suffices.
    double tail = 0.0;
    for (int n = 22; n >= 12; n -= 2) {
        tail = tail * z.hi + ((n & 2) ? -t.inverseFactorialTail[n] : t.inverseFactorialTail[n]);
    }
    DoubleDouble p{tail, 0.0};
    for (int n = 10; n >= 0; n -= 2) {
        const DoubleDouble c = t.inverseFactorial[n];
        p = Add(Multiply(p, z), (n & 2) ? DoubleDouble{-c.hi, -c.lo} : c);
    }
    return p;
}

// The sine (cosine when cosine is true) of x.
double SinOrCos(double x, bool cosine) {
    if (!(x == x) || x >= 0x1p52 || x <= -0x1p52) return kNaN;
    const double ax = x < 0.0 ? -x : x;
    // sin x rounds to x and cos x to 1 here (the cubic and quadratic terms
    // are below half an ulp); this also keeps the sign of -0.
    if (ax < 0x1p-26) return cosine ? 1.0 : x;
    const Tables& t = GetTables();
    DoubleDouble r;
    int quadrant = ReduceQuarterTurns(x, &r);
    if (cosine) quadrant = (quadrant + 1) & 3;
    // sin(r + q pi/2): q = 0: sin r, 1: cos r, 2: -sin r, 3: -cos r.
    const DoubleDouble v = (quadrant & 1) ? CosKernel(r, t) : SinKernel(r, t);
    const double result = v.hi + v.lo;
    return (quadrant & 2) ? -result : result;
}

uint64_t BitsOf(double x) {
    uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return bits;
}

double FromBits(uint64_t bits) {
    double x;
    std::memcpy(&x, &bits, sizeof x);
    return x;
}

// 2^e for -1022 <= e <= 1023.
double PowerOfTwo(int64_t e) {
    return FromBits(static_cast<uint64_t>(e + 1023) << 52);
}

// log x in double-double for finite x > 0, with an absolute error of about
// 2^-80 (plus 2^-106 relative).
DoubleDouble LogPositive(double x, const Tables& t) {
    int64_t exponent = 0;
    uint64_t bits = BitsOf(x);
    if ((bits >> 52) == 0) {  // subnormal: make it normal first
        bits = BitsOf(x * 0x1p54);
        exponent = -54;
    }
    exponent += static_cast<int64_t>(bits >> 52) - 1023;
    const uint64_t fraction = bits & ((uint64_t{1} << 52) - 1);
    const double m = FromBits(fraction | (uint64_t{1023} << 52));  // in [1, 2)
    const int i = static_cast<int>(fraction >> (52 - kLogTableBits));

    // u = m c - 1 exactly: m c is within 2^-9 of 1, so p - 1 is exact, and
    // it is zero or at least as large as the product's rounding error.
    double mh, ml;
    Split(m, &mh, &ml);
    const double ch = t.logInverseHi[i];
    const double cl = t.logInverseLo[i];
    const double p = m * t.logInverse[i];
    const double pError = ((mh * ch - p) + mh * cl + ml * ch) + ml * cl;
    const DoubleDouble u = FastTwoSum(p - 1.0, pError);

    // log(1 + u) = u - u^2/2 + u^3 (1/3 - u/4 + ... + u^6/9); from the
    // cubic term on, plain double is far more than enough.
    const double uh = u.hi;
    double series = 1.0 / 9.0;
    for (int n = 8; n >= 3; --n) series = series * uh + ((n & 1) ? 1.0 : -1.0) / n;
    const double cubic = uh * uh * uh * series;
    const DoubleDouble square = TwoProduct(uh, uh);

    // Add the large parts with their rounding errors kept, then the rest.
    const double e = static_cast<double>(exponent);
    const DoubleDouble s1 = TwoSum(e * t.log2Hi, t.minusLogC[i].hi);  // e log2Hi is exact
    const DoubleDouble s2 = TwoSum(s1.hi, uh);
    const DoubleDouble s3 = TwoSum(s2.hi, -0.5 * square.hi);
    const double low = (s1.lo + s2.lo + s3.lo) + ((e * t.log2Lo + t.minusLogC[i].lo) +
                                                  (u.lo - 0.5 * square.lo - uh * u.lo + cubic));
    return FastTwoSum(s3.hi, low);
}

// exp w for a double-double w (hi + lo, not necessarily normalised);
// +infinity on overflow, +0 on underflow.
double ExpDoubleDouble(DoubleDouble w, const Tables& t) {
    if (w.hi > 710.0) return kInfinity;
    if (w.hi < -746.0) return 0.0;
    // w = n log2/4096 + r, n = 4096 k + 64 a + b, |r| <= log2/8192 + tiny.
    const double scaled = w.hi * (kExpSteps / t.log2.hi);
    const int64_t n = static_cast<int64_t>(scaled < 0.0 ? scaled - 0.5 : scaled + 0.5);
    const double nd = static_cast<double>(n);
    const double r0 = w.hi - nd * t.stepHi;  // both exact: close values
    const DoubleDouble r1 = TwoSum(r0, -(nd * t.stepMid));
    // w.lo can be far above an ulp of r: fold it in so that rLow is tiny
    // and the cross terms rh rLow of the polynomial can be dropped.
    const DoubleDouble r = TwoSum(r1.hi, r1.lo + (w.lo - nd * t.stepLo));
    const double rLow = r.lo;

    // exp r - 1 = rh + (rLow + rh^2 (1/2 + rh/6 + rh^2/24 + rh^3/120)); the
    // bracket is below 2^-27, so plain double is enough for it.
    const double rh = r.hi;
    const double poly =
        rh * rh *
        (0.5 + rh * (t.inverseFactorialTail[3] +
                     rh * (t.inverseFactorialTail[4] + rh * t.inverseFactorialTail[5])));
    const double qLow = rLow + poly;

    const int64_t b = ((n % kExpTableSize) + kExpTableSize) % kExpTableSize;
    const int64_t na = (n - b) / kExpTableSize;
    const int64_t a = ((na % kExpTableSize) + kExpTableSize) % kExpTableSize;
    const int64_t k = (na - a) / kExpTableSize;
    const DoubleDouble table = Multiply(t.exp2Coarse[a], t.exp2Fine[b]);

    // table (1 + rh + qLow), rounded once.
    const DoubleDouble linear = TwoProduct(table.hi, rh);
    const DoubleDouble head = FastTwoSum(table.hi, linear.hi);
    double result =
        head.hi + (head.lo + ((linear.lo + table.lo) + (table.hi * qLow + table.lo * rh)));
    // result is in [0.999, 2.001]: scale by 2^k exactly while it stays normal.
    int64_t e = k;
    if (e > 1023) {
        result *= PowerOfTwo(1023);
        e -= 1023;
        if (e > 1023) return kInfinity;
    } else if (e < -1022) {
        result *= PowerOfTwo(-1022);
        e += 1022;
        if (e < -1022) return 0.0;
    }
    return result * PowerOfTwo(e);
}

}  // namespace

double PortableSin(double x) {
    return SinOrCos(x, false);
}

double PortableCos(double x) {
    return SinOrCos(x, true);
}

double PortablePow(double x, double y) {
    if (y == 0.0 || x == 1.0) return 1.0;
    if (!(x == x) || !(y == y) || x < 0.0) return kNaN;
    if (y == kInfinity || y == -kInfinity) {
        if (x == kInfinity || x == 0.0) return (x == 0.0) == (y < 0.0) ? kInfinity : 0.0;
        return (x > 1.0) == (y > 0.0) ? kInfinity : 0.0;
    }
    if (x == 0.0) return y > 0.0 ? 0.0 : kInfinity;
    if (x == kInfinity) return y > 0.0 ? kInfinity : 0.0;
    const Tables& t = GetTables();
    const DoubleDouble logX = LogPositive(x, t);
    // y log x; a huge y makes this overflow, which the range test catches.
    const double wHi = y * logX.hi;
    if (!(wHi > -1000.0 && wHi < 1000.0)) return wHi > 0.0 ? kInfinity : 0.0;
    const DoubleDouble w = TwoProduct(logX.hi, y);
    return ExpDoubleDouble({w.hi, w.lo + logX.lo * y}, t);
}
