#include "funcoes/funcoes.h"

WideString SourceRoot, DestinationRoot, AppFolder;
bool MirrorRunning = false;
bool MirrorStopRequested = false;
bool MirrorPending = false;
