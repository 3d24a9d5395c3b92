// Portable sine, cosine and power: within one ulp of the C library over the
// arguments the core uses (and nearly always equal to it), exact where the
// true result is a double, the special values, and checksums of the core's
// whole argument sets that must come out the same on every build. Only the
// tests named "...Library" use the C library's functions (the Windows build
// under Wine leaves them out: they would test the Windows runtime).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <iostream>
#include <limits>

#include "base/PortableMath.h"

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

constexpr double kPi = 3.14159265358979323846;
constexpr double kExponent = 2.2;                   // the pipeline's spectral exponent
constexpr int64_t kPowArguments = 2 * 2048 * 2048;  // d^2 = dx^2 + dy^2 at land size 12

// Doubles mapped to integers in their order, so that neighbours differ by 1
// (also across zero: -0 and +0 both map to 0).
int64_t OrderedBits(double x) {
    int64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return bits < 0 ? std::numeric_limits<int64_t>::min() - bits : bits;
}

int64_t UlpDistance(double a, double b) {
    const int64_t d = OrderedBits(a) - OrderedBits(b);
    return d < 0 ? -d : d;
}

struct Fnv1a {
    uint64_t hash = 14695981039346656037ull;
    void Add(double x) {
        uint64_t bits;
        std::memcpy(&bits, &x, sizeof bits);
        for (int i = 0; i < 8; ++i) {
            hash = (hash ^ ((bits >> (8 * i)) & 0xFF)) * 1099511628211ull;
        }
    }
};

// Agreement with the library, and the worst distance, over a set of arguments.
struct Agreement {
    int64_t count = 0;
    int64_t equal = 0;
    int64_t worstUlps = 0;
    void Add(double mine, double library) {
        ++count;
        if (mine == library && std::signbit(mine) == std::signbit(library)) ++equal;
        const int64_t d = UlpDistance(mine, library);
        if (d > worstUlps) worstUlps = d;
    }
    void Report(const char* what) const {
        std::cout << what << ": " << equal << " of " << count << " equal to the C library ("
                  << 100.0 * equal / count << "%), worst " << worstUlps << " ulp\n";
    }
};

TEST(PortableMath, PowOfTheFilterDistancesAgreesWithTheLibrary) {
    // The filter raises d = sqrt(dx^2 + dy^2) to the exponent; every d^2 of
    // the largest land occurs. A sample under the sanitizer.
    const int64_t stride = kSanitized ? 97 : 1;
    Agreement agreement;
    for (int64_t n = 1; n <= kPowArguments; n += stride) {
        const double d = std::sqrt(static_cast<double>(n));
        agreement.Add(PortablePow(d, kExponent), std::pow(d, kExponent));
    }
    agreement.Report("pow(sqrt(n), 2.2)");
    EXPECT_LE(agreement.worstUlps, 1);
    // Both are nearly always correctly rounded: more than a few disagreements
    // in ten thousand means a loss of accuracy here.
    EXPECT_GT(agreement.equal, agreement.count - agreement.count / 1000);
}

TEST(PortableMath, TableAnglesAgreeWithTheLibrary) {
    // The angle tables' arguments (units - j) 2 pi / units for every table
    // size the view can choose, and the ray-step angles of those sizes.
    const int32_t stride = kSanitized ? 53 : 1;
    Agreement sine;
    Agreement cosine;
    int64_t nearZeroSignsChecked = 0;
    for (int32_t units = 2560; units <= 6890; units += stride) {
        for (int32_t j = 0; j < units; ++j) {
            const double a = static_cast<double>(units - j) * 2.0 * kPi / units;
            const double s = PortableSin(a);
            const double c = PortableCos(a);
            const double librarySin = std::sin(a);
            const double libraryCos = std::cos(a);
            sine.Add(s, librarySin);
            cosine.Add(c, libraryCos);
            // Near-zero results: the ulp distance above is relative, so it
            // already checks their size; their sign decides table entries.
            if (std::fabs(libraryCos) < 1e-9) {
                ASSERT_EQ(std::signbit(c), std::signbit(libraryCos)) << units << " " << j;
                ++nearZeroSignsChecked;
            }
            if (std::fabs(librarySin) < 1e-9) {
                ASSERT_EQ(std::signbit(s), std::signbit(librarySin)) << units << " " << j;
                ++nearZeroSignsChecked;
            }
        }
        const int32_t diagonal = units / 2;  // the widest view: units = 2 x diagonal
        for (int32_t i = 0; i < diagonal; ++i) {
            const double angle =
                static_cast<double>(i) * 2.0 * kPi / units - diagonal * kPi / units;
            cosine.Add(PortableCos(angle), std::cos(angle));
        }
    }
    sine.Report("sin of table angles");
    cosine.Report("cos of table and ray angles");
    EXPECT_GT(nearZeroSignsChecked, 0);
    EXPECT_LE(sine.worstUlps, 1);
    EXPECT_LE(cosine.worstUlps, 1);
    EXPECT_GT(sine.equal, sine.count - sine.count / 200);
    EXPECT_GT(cosine.equal, cosine.count - cosine.count / 200);
}

TEST(PortableMath, ResultsNearZeroHaveTheirCorrectlyRoundedValue) {
    // The quarter-turn angles of the tables: the true results are the tiny
    // remainders of the rounded multiples of pi/2.
    EXPECT_EQ(PortableCos(kPi / 2), 6.123233995736766e-17);
    EXPECT_EQ(PortableSin(kPi), 1.2246467991473532e-16);
    EXPECT_EQ(PortableCos(3 * kPi / 2), -1.8369701987210297e-16);
    EXPECT_EQ(PortableSin(2 * kPi), -2.4492935982947064e-16);
    EXPECT_EQ(PortableCos(-kPi / 2), 6.123233995736766e-17);
    EXPECT_EQ(PortableSin(-kPi), -1.2246467991473532e-16);
    // The angle that decides bankTable[640] of 2560 units: cos is tiny and
    // negative, so startX truncates to 591359, not 591360.
    const double a = static_cast<double>(2560 - 640) * 2.0 * kPi / 2560;
    EXPECT_EQ(PortableCos(a), -1.8369701987210297e-16);
}

TEST(PortableMath, TrigSpecialValuesAndSymmetry) {
    EXPECT_EQ(PortableSin(0.0), 0.0);
    EXPECT_FALSE(std::signbit(PortableSin(0.0)));
    EXPECT_TRUE(std::signbit(PortableSin(-0.0)));
    EXPECT_EQ(PortableCos(0.0), 1.0);
    EXPECT_EQ(PortableCos(-0.0), 1.0);
    EXPECT_EQ(PortableSin(1e-300), 1e-300);
    EXPECT_EQ(PortableSin(0x1p-27), 0x1p-27);
    EXPECT_EQ(PortableCos(0x1p-27), 1.0);
    EXPECT_EQ(PortableSin(kPi / 6), 0.49999999999999994);  // correctly rounded
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_TRUE(std::isnan(PortableSin(inf)));
    EXPECT_TRUE(std::isnan(PortableCos(-inf)));
    EXPECT_TRUE(std::isnan(PortableSin(std::nan(""))));
    EXPECT_TRUE(std::isnan(PortableCos(0x1p52)));

    int32_t asymmetric = -1;
    int32_t offCircle = -1;
    for (int32_t i = 0; i < 20000 && asymmetric < 0 && offCircle < 0; ++i) {
        const double x = i * 0.000731 + i * i * 1e-5;  // up to about 4000
        if (PortableSin(-x) != -PortableSin(x) || PortableCos(-x) != PortableCos(x)) {
            asymmetric = i;
        }
        const double s = PortableSin(x);
        const double c = PortableCos(x);
        if (std::fabs(s * s + c * c - 1.0) > 4e-16) offCircle = i;
    }
    EXPECT_EQ(asymmetric, -1);
    EXPECT_EQ(offCircle, -1);
    EXPECT_EQ(PortableSin(1.6e6), -0.5414010921983009);  // correctly rounded
    EXPECT_LE(std::fabs(PortableSin(1e12)), 1.0);
}

TEST(PortableMath, LargerArgumentsAgreeWithTheLibrary) {
    int32_t far = -1;
    for (int32_t i = 0; i < 20000 && far < 0; ++i) {
        const double x = i * 0.000731 + i * i * 1e-5;  // up to about 4000
        if (UlpDistance(PortableSin(x), std::sin(x)) > 1 ||
            UlpDistance(PortableCos(x), std::cos(x)) > 1) {
            far = i;
        }
    }
    EXPECT_EQ(far, -1);
    EXPECT_LE(UlpDistance(PortableSin(1.6e6), std::sin(1.6e6)), 1);
}

TEST(PortableMath, PowIsExactWhereTheTrueResultIsADouble) {
    // x^2, x^0.5, x^-1 and x^1 are the correctly rounded x x, sqrt x, 1 / x
    // and x: independent of any library.
    int32_t wrong = -1;
    for (int32_t i = 1; i < 20000 && wrong < 0; ++i) {
        const double x = i * 0.01731 + 1.0 / i;
        if (PortablePow(x, 2.0) != x * x || PortablePow(x, 0.5) != std::sqrt(x) ||
            PortablePow(x, -1.0) != 1.0 / x || PortablePow(x, 1.0) != x) {
            wrong = i;
        }
    }
    EXPECT_EQ(wrong, -1);
    EXPECT_EQ(PortablePow(10.0, 22.0), 1e22);
    EXPECT_EQ(PortablePow(2.0, 1023.0), 0x1p1023);
    EXPECT_EQ(PortablePow(2.0, -1022.0), 0x1p-1022);
    EXPECT_EQ(PortablePow(2.0, -1074.0), 0x1p-1074);
    EXPECT_EQ(PortablePow(0x1p-1074, 0.5), 0x1p-537);
    EXPECT_EQ(PortablePow(3.0, 2.2), 0x1.66c5402eec082p+3);  // correctly rounded
}

TEST(PortableMath, PowSpecialValues) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::nan("");
    EXPECT_EQ(PortablePow(7.5, 0.0), 1.0);
    EXPECT_EQ(PortablePow(nan, 0.0), 1.0);
    EXPECT_EQ(PortablePow(1.0, 2.2), 1.0);
    EXPECT_EQ(PortablePow(1.0, nan), 1.0);
    EXPECT_EQ(PortablePow(0.0, 2.2), 0.0);
    EXPECT_EQ(PortablePow(0.0, -2.2), inf);
    EXPECT_EQ(PortablePow(inf, 2.2), inf);
    EXPECT_EQ(PortablePow(inf, -2.2), 0.0);
    EXPECT_EQ(PortablePow(2.0, 1024.0), inf);
    EXPECT_EQ(PortablePow(2.0, 1e300), inf);
    EXPECT_EQ(PortablePow(2.0, -1080.0), 0.0);
    EXPECT_EQ(PortablePow(0.5, inf), 0.0);
    EXPECT_EQ(PortablePow(2.0, -inf), 0.0);
    EXPECT_TRUE(std::isnan(PortablePow(-2.0, 2.0)));
    EXPECT_TRUE(std::isnan(PortablePow(nan, 2.2)));
    EXPECT_TRUE(std::isnan(PortablePow(2.0, nan)));
    // Subnormal arguments are normalised first.
    EXPECT_EQ(PortablePow(0x1.8p-1060, 0.25), 0x1.1b4f819c2ff81p-265);
}

TEST(PortableMath, ChecksumsOfTheCoreArgumentsAreTheSameOnEveryBuild) {
    // Every value was checked above against the C library (at most one ulp,
    // nearly all equal) and the disagreements against a 200-bit reference;
    // these sums pin the exact bits, which must match on every compiler,
    // C runtime and architecture.
    if (kSanitized) GTEST_SKIP() << "full sweep natively only";
    Fnv1a pow;
    for (int64_t n = 1; n <= kPowArguments; ++n) {
        pow.Add(PortablePow(std::sqrt(static_cast<double>(n)), kExponent));
    }
    Fnv1a trig;
    for (int32_t units : {2560, 2566, 4000, 6890}) {
        for (int32_t j = 0; j < units; ++j) {
            const double a = static_cast<double>(units - j) * 2.0 * kPi / units;
            trig.Add(PortableCos(a));
            trig.Add(PortableSin(a));
        }
    }
    EXPECT_EQ(pow.hash, 7421046908686398531ull);
    EXPECT_EQ(trig.hash, 10513082828438195056ull);
}

}  // namespace
