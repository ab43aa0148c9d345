// Must not compile: the platform layer sits below the framework.
#include "framework/relay/core.hpp"
