#include "land/LandPipeline.h"

#include "base/Scratch.h"

namespace {

// The most scratch memory one step holds at once: the spectral synthesis,
// 16 bytes a cell plus its transform lines. Obtained before the first step,
// so that a landscape too large for the free memory is refused before the
// maps are touched and the previous land stays whole, and lent to the
// passes until the last step has run; the generator keeps it for its next
// landscape. Null when it cannot be had.
void* ObtainPeakScratch(LandGenerator& land, int64_t* bytesOut) {
    const int64_t side = land.width;
    const int64_t cells = side * side;  // side < 2^31: fits
    if (side < 0 || cells > static_cast<int64_t>(scratch::kMaxAllocationBytes / 16)) return nullptr;
    const int64_t bytes = cells * 16 + LandGenerator::FftScratchDoubles(side) * 8;
    *bytesOut = bytes;
    return land.KeepPeakScratch(bytes);
}

// Lends the block to the generator for the steps.
class LentScratch {
public:
    LentScratch(LandGenerator& land, void* block, int64_t bytes) : land_(land) {
        land_.LendScratchBlock(block, bytes);
    }
    ~LentScratch() { land_.LendScratchBlock(nullptr, 0); }
    LentScratch(const LentScratch&) = delete;
    LentScratch& operator=(const LentScratch&) = delete;

private:
    LandGenerator& land_;
};

}  // namespace

const char* LandPipelineStepName(int32_t step) {
    switch (step) {
        case 4:
            return "height synthesis";
        case 7:
            return "colour blur";
        case 8:
            return "flow carving";
        case 12:
            return "slope shading";
        case 13:
            return "cast shadows";
        default:
            return "landscape";
    }
}

namespace {

int32_t RunSteps(LandGenerator& land, uint32_t seed, const int32_t* abortFlag,
                 int32_t* failedStep) {
    auto aborted = [abortFlag, &land]() {
        return (abortFlag != nullptr && *abortFlag != 0) || land.Abandoned();
    };
    // A step that returns false without an abort could not get its memory.
    auto failed = [&](int32_t step) {
        if (failedStep != nullptr) *failedStep = step;
        return step - 1;
    };
    if (failedStep != nullptr) *failedStep = 0;
    const int32_t side = land.width;
    int64_t blockBytes = 0;
    void* block = ObtainPeakScratch(land, &blockBytes);
    if (block == nullptr) {
        failed(4);
        return 0;  // nothing ran
    }
    const LentScratch lent(land, block, blockBytes);

    land.FillMap(land.heightMap, 0);
    if (aborted()) return 1;
    land.SetSeed(seed);
    land.noiseMode = 0;
    land.synthesisMethod = -1;
    land.spectralExponent = 2.2;
    if (!land.GenerateHeights() && !aborted()) return failed(4);
    if (aborted()) return 4;
    land.ScaleHeights(side * 2);
    if (aborted()) return 5;
    land.ColourByHeight(256);
    if (aborted()) return 6;
    if (!land.BlurColours(3, false) && !aborted()) return failed(7);
    if (aborted()) return 7;
    if (!land.CarveFlowChannels(-(side / 4), -100, 16, 4, 3) && !aborted()) return failed(8);
    if (aborted()) return 8;
    land.RebaseHeights(0);
    if (aborted()) return 9;
    land.ScaleHeights(side >> 1);
    if (aborted()) return 10;
    land.FloodToLevel(kLandWaterLevel);
    if (aborted()) return 11;
    if (!land.ShadeSlopes(20, 'r', 1, 0) && !aborted()) return failed(12);
    if (aborted()) return 12;
    if (!land.CastShadows(-35, 5, 'r', 1024, 1, 0) && !aborted()) return failed(13);
    return 13;
}

}  // namespace

int32_t RunLandPipeline(LandGenerator& land, uint32_t seed, const int32_t* abortFlag,
                        int32_t* failedStep) {
    const int32_t steps = RunSteps(land, seed, abortFlag, failedStep);
    // The block is no longer lent: its pages go back until the next landscape.
    land.ReleaseKeptPages();
    return steps;
}
