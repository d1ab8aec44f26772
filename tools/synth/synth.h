#pragma once
// Deterministic synthetic SER files: background with noise, stars, hot pixels, flashes.
namespace serflash::synth {}
