#include "funcoes/funcoes.h"

WideString SourceRoot, DestinationRoot, AppFolder;
bool MirrorRunning = false;
std::chrono::steady_clock::time_point MirrorStarted;
bool MirrorPending = false;
