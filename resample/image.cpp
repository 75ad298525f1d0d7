#include "image.h"
// Placeholder until the engine lands.
