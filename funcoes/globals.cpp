#include "funcoes/funcoes.h"

WideString SourceRoot, DestinationRoot, AppFolder;
bool MirrorRunning = false;
