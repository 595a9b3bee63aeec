#pragma once

#include <functional>
#include <string>

#include "plugin/access_checks.h"
#include "plugin/account_store.h"

namespace kestrix::plugin {

class EventRecord;

// The answer to one event, from one account store.
class EventAnswers {
  public:
    // Runs work that needs no database, such as a password hash, with the
    // store free for other events; false when the store could not be had
    // back in time, after which the answer must not touch it.
    using OffStore = std::function<bool(const std::function<void()>&)>;

    explicit EventAnswers(AccountStore& store, OffStore offStore = runInPlace)
        : store_(store), checks_(store), offStore_(std::move(offStore)) {}

    // Writes the answer to an answered code into the record.
    void answer(EventRecord& record);

  private:
    static bool runInPlace(const std::function<void()>& work) {
        work();
        return true;
    }
    void homeDirectory(EventRecord& record);
    // The account's expiry or disable date has come.
    bool pastItsDate(const std::string& user);
    void textAnswer(EventRecord& record, UserColumn column);
    void switchAnswer(EventRecord& record, UserColumn column);
    void limitAnswer(EventRecord& record, UserColumn column, long long noValue);
    void countAnswer(EventRecord& record, UserColumn column);
    void ratioTypeAnswer(EventRecord& record);
    void maintenanceAnswer(EventRecord& record);
    void passwordCheck(EventRecord& record);
    bool upgradeStoredPassword(const std::string& storedName, const std::string& stored,
                               const std::string& given);
    void passwordChange(EventRecord& record);
    void addressCheck(EventRecord& record);
    void addressListed(EventRecord& record);
    void signFile(EventRecord& record, bool signOn);
    void ratioCredit(EventRecord& record);
    void quota(EventRecord& record);

    AccountStore& store_;
    AccessChecks checks_;
    OffStore offStore_;
};

}  // namespace kestrix::plugin
