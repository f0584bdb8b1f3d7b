#pragma once

#include "engine/types.h"

class Config;

// The engine's start-up settings taken from the configuration.
void BuildEngineSettings(const Config& config, engine::Settings& settings);
