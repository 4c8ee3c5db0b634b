#include "frontend/driver.h"

int main(int argc, char** argv) { return qvb::runDriver(argc, argv); }
