// The numbers of the off-axis calibration against worked vectors: the bias
// current table at its edges, the compensation bytes, the grid and revolution
// averaging, the harmonic fit's column order and the unwrapping.

#include "calibration/offaxis_math.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace kinetra::calibration {
namespace {

std::vector<double> span(double from, double to, unsigned count = kSamplesPerMeasurement) {
    std::vector<double> angles(count);
    for (unsigned i = 0; i < count; ++i) angles[i] = from + (to - from) * i / (count - 1);
    return angles;
}

TEST(OffAxisMath, BiasCurrentTableAtItsThresholds) {
    struct Case {
        double error;
        uint8_t value;
        bool exceeded;
    };
    const Case cases[] = {{0.0, 0, false},    {11.49, 0, false},  {11.5, 86, false},   {19.49, 86, false},
                          {19.5, 129, false}, {25.4, 155, false}, {30.0, 172, false},  {33.7, 184, false},
                          {36.9, 189, false}, {39.5, 201, false}, {41.99, 201, false}, {42.0, 207, true},
                          {1000.0, 207, true}};
    for (const Case& c : cases) {
        bool exceeded = !c.exceeded;
        EXPECT_EQ(biasCurrentTrimming(c.error, &exceeded), c.value) << c.error;
        EXPECT_EQ(exceeded, c.exceeded) << c.error;
    }
}

TEST(OffAxisMath, CompensationBytesAreTwosComplementClampedToTheTable) {
    struct Case {
        double degrees;
        uint8_t byte;
    };
    const Case cases[] = {{-0.1, 254},
                          {0.1, 1},
                          {-20.0, 128},
                          {20.0, 128},
                          {0.0, 0},
                          {11.25, 128},
                          {-11.25, 128},
                          {-360.0 / 4096, 255},
                          {5.625, 64},
                          {-5.625, 192},
                          {std::numeric_limits<double>::quiet_NaN(), 0}};
    for (const Case& c : cases) EXPECT_EQ(compensationByte(c.degrees), c.byte) << c.degrees;
}

TEST(OffAxisMath, ErrorMetricIgnoresOffsetAndDividesByTheSampleCount) {
    const std::vector<double> expected = {0.0, 10.0, 20.0, 30.0};
    const std::vector<double> measured = {101.0, 109.0, 123.0, 127.0};  // errors 1, -1, 3, -3 around 100
    const ErrorMetric metric = errorMetric(measured, expected);
    EXPECT_DOUBLE_EQ(metric.half_peak_to_peak, 3.0);
    EXPECT_DOUBLE_EQ(metric.standard_deviation, std::sqrt(5.0));
    EXPECT_EQ(metric.centred, (std::vector<double>{1.0, -1.0, 3.0, -3.0}));
}

TEST(OffAxisMath, FitRecoversEachCoefficientInColumnOrder) {
    const Harmonics truth = {1.0, -2.0, 3.0, -4.0, 0.5, -0.25, 0.125, 2.5};
    const std::vector<double> angles = span(10.0, 1000.0);
    std::vector<double> error;
    for (double a : angles) error.push_back(harmonicModel(truth, a));
    // The model column by column: sin, cos of 1, 2, 4, 8 times the angle,
    // in 3.14/180 radians.
    const double phi = 100.0 * 0.017444444444444446;
    EXPECT_DOUBLE_EQ(harmonicModel(truth, 100.0), std::sin(phi) - 2 * std::cos(phi) + 3 * std::sin(2 * phi) -
                                                      4 * std::cos(2 * phi) + 0.5 * std::sin(4 * phi) -
                                                      0.25 * std::cos(4 * phi) + 0.125 * std::sin(8 * phi) +
                                                      2.5 * std::cos(8 * phi));
    const Harmonics fitted = fitHarmonics(angles, error);
    for (std::size_t k = 0; k < truth.size(); ++k) EXPECT_NEAR(fitted[k], truth[k], 1e-9) << k;
}

TEST(OffAxisMath, GridAveragesTheWholeRevolutionsTheAnglesSpan) {
    const Harmonics c = {1.0, 0.5, 0.0, 0.25, 0.0, 0.0, 0.1, 0.0};
    struct Case {
        double from, to;
        std::vector<double> revolutions;  // first grid angle of each averaged revolution
    };
    const Case cases[] = {
        {10.0, 1000.0, {360.0}},                 // 360 to 708.75, one group
        {10.0, 1450.0, {360.0, 720.0, 1080.0}},  // 360 to 1428.75, three groups
        {1000.0, 10.0, {360.0}},                 // order of the samples does not matter
        {-1000.0, -10.0, {-360.0}},              // toward zero on both ends
        {0.0, 720.0, {360.0}},                   // a multiple of 360 as the first angle is not a start
    };
    for (const Case& k : cases) {
        Table table{};
        ASSERT_TRUE(averagedModel(c, span(k.from, k.to), &table)) << k.from << ".." << k.to;
        for (std::size_t i = 0; i < kTableSize; ++i) {
            double sum = 0.0;
            for (double start : k.revolutions) sum += harmonicModel(c, start + 11.25 * static_cast<double>(i));
            EXPECT_NEAR(table[i], sum / static_cast<double>(k.revolutions.size()), 1e-12) << k.from << " " << i;
        }
    }
}

TEST(OffAxisMath, GridIsEmptyWithoutAWholeRevolutionBetweenMultiplesOf360) {
    const Harmonics c = {1.0, 0, 0, 0, 0, 0, 0, 0};
    const double spans[][2] = {{10.0, 700.0}, {370.0, 1000.0}, {-10.0, 350.0}, {0.0, 0.0}, {5.0, 5.0}};
    for (const auto& s : spans) {
        Table table{};
        table.fill(7.0);
        EXPECT_FALSE(averagedModel(c, span(s[0], s[1]), &table)) << s[0] << ".." << s[1];
        EXPECT_EQ(table[0], 7.0) << "untouched";
    }
    Table table{};
    EXPECT_FALSE(averagedModel(c, {}, &table));
    EXPECT_FALSE(averagedModel(c, {std::numeric_limits<double>::infinity(), 0.0}, &table));
    EXPECT_FALSE(averagedModel(c, {0.0, 1e300}, &table));
}

TEST(OffAxisMath, UnwrappingFollowsTheShortestStepAcrossZero) {
    struct Case {
        std::vector<double> read, unwrapped;
    };
    const Case cases[] = {
        {{350.0, 355.0, 2.0, 10.0}, {350.0, 355.0, 362.0, 370.0}},  // forward across 0/360
        {{5.0, 355.0, 340.0}, {5.0, -5.0, -20.0}},                  // backward across 0/360
        {{0.0, 120.0, 240.0, 0.0, 120.0}, {0.0, 120.0, 240.0, 360.0, 480.0}},
        {{10.0}, {10.0}},
        {{}, {}},
    };
    for (const Case& c : cases) {
        std::vector<double> angles = c.read;
        unwrapAngles(angles);
        EXPECT_EQ(angles, c.unwrapped);
    }
}

}  // namespace
}  // namespace kinetra::calibration
