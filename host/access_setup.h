#pragma once
// Sets up who may read before the agent listens: TLS from [TLS] and the
// users from [Users]. False, having said why (event log, trace, standard
// error), when either is unusable: then the agent must not listen, rather
// than fall back to plain HTTP or to letting anyone read.
class KelvaneHTTPAgentHTTPServer;

bool SetUpAccess(KelvaneHTTPAgentHTTPServer& server);
