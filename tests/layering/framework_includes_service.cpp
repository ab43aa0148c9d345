// Must not compile: the framework sits below the product service.
#include "service/ws_relay.hpp"
