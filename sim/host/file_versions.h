// The file versions of the simulated game's executable and of the stand-in host: their version
// resources carry them, and the native build answers them, so both runs report the same.
#pragma once

#define SIM_GAME_FILE_VERSION 1, 0, 1491, 50
#define SIM_GAME_FILE_VERSION_TEXT "1.0.1491.50"
#define SIM_HOST_FILE_VERSION 1, 0, 1491, 17
#define SIM_HOST_FILE_VERSION_TEXT "1.0.1491.17"
