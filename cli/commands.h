#pragma once

#include "cli/invocation.h"

namespace kestrix::cli {

int configShow(const Invocation& in);
int configSet(const Invocation& in);

int userList(const Invocation& in);
int userShow(const Invocation& in);
int userAdd(const Invocation& in);
int userCopy(const Invocation& in);
int userPasswd(const Invocation& in);
int userDelete(const Invocation& in);
int userSet(const Invocation& in);

int ruleList(const Invocation& in);
int ruleAdd(const Invocation& in);
int ruleEdit(const Invocation& in);
int ruleRemove(const Invocation& in);
int ruleMove(const Invocation& in);

int fileRuleList(const Invocation& in);
int fileRuleAdd(const Invocation& in);
int fileRuleRemove(const Invocation& in);
int ratioFreeList(const Invocation& in);
int ratioFreeAdd(const Invocation& in);
int ratioFreeRemove(const Invocation& in);

int blockList(const Invocation& in);
int blockAdd(const Invocation& in);
int blockRemove(const Invocation& in);
int ipList(const Invocation& in);
int ipAdd(const Invocation& in);
int ipRemove(const Invocation& in);

int applyDates(const Invocation& in);
int dbInit(const Invocation& in);
int dbUpgrade(const Invocation& in);
int dbCheck(const Invocation& in);
int check(const Invocation& in);

int sessionList(const Invocation& in);
int sessionEnd(const Invocation& in);

}  // namespace kestrix::cli
