#pragma once

#include <cstdint>

// Records the command set's parsers fill from device answers.
