#include "land/LandPipeline.h"

int32_t RunLandPipeline(LandGenerator& land, uint32_t seed, const int32_t* abortFlag) {
    auto aborted = [abortFlag]() { return abortFlag != nullptr && *abortFlag != 0; };
    const int32_t side = land.width;

    land.FillMap(land.heightMap, 0);
    if (aborted()) return 1;
    land.SetSeed(seed);
    land.noiseMode = 0;
    land.synthesisMethod = -1;
    land.spectralExponent = 2.2;
    land.GenerateHeights();
    if (aborted()) return 4;
    land.ScaleHeights(side * 2);
    if (aborted()) return 5;
    land.ColourByHeight(256);
    if (aborted()) return 6;
    land.BlurColours(3, false);
    if (aborted()) return 7;
    land.CarveFlowChannels(-(side / 4), -100, 16, 4, 3);
    if (aborted()) return 8;
    land.RebaseHeights(0);
    if (aborted()) return 9;
    land.ScaleHeights(side >> 1);
    if (aborted()) return 10;
    land.FloodToLevel(kLandWaterLevel);
    if (aborted()) return 11;
    land.ShadeSlopes(20, 'r', 1, 0);
    if (aborted()) return 12;
    land.CastShadows(-35, 5, 'r', 1024, 1, 0);
    return 13;
}
