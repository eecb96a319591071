#include "funcoes/noticeonce.h"

bool TNoticeOnce::Due(const std::vector<WideString>& cause) { return FMet.insert(cause).second; }

void TNoticeOnce::Forget() { FMet.clear(); }
