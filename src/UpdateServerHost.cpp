#include "UpdateServerHost.hpp"

#ifndef UPDATE_SERVER_HOST
#error "UPDATE_SERVER_HOST must name the update server's host"
#endif

const char* UpdateServerHost() { return UPDATE_SERVER_HOST; }
