#include "funcoes/funcoes.h"

WideString SourceRoot, DestinationRoot, AppFolder;
bool MirrorRunning = false;
bool MirrorStopRequested = false;
std::chrono::steady_clock::time_point MirrorStarted;
bool MirrorPending = false;
