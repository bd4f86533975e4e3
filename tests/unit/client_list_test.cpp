// The client list's admission lookups and its deferred reclamation, driven by
// explicit times.
#include "engine/client_list.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

class ClientListTest : public testing::Test {
  protected:
    void TearDown() override { reset_client_list_for_testing(); }

    // A running transfer of client `address`:`port`.
    static TransferSession* add(uint32_t address, uint16_t port) {
        auto* s = static_cast<TransferSession*>(std::calloc(1, sizeof(TransferSession)));
        s->clientAddress = address;
        s->clientPort = port;
        s->dataSocket = 7;
        s->worker = 1;
        append_transfer(s);
        return s;
    }
};

TEST_F(ClientListTest, FindsOnlyActiveTransfersOfTheSameClient) {
    TransferSession* a = add(1, 100);
    TransferSession* b = add(1, 101);
    EXPECT_EQ(find_active_transfer(1, 100), a);
    EXPECT_EQ(find_active_transfer(1, 101), b);
    EXPECT_EQ(find_active_transfer(2, 100), nullptr);
    mark_finished(a, 0);
    EXPECT_FALSE(is_active(a));
    EXPECT_EQ(find_active_transfer(1, 100), nullptr);
    EXPECT_EQ(count_transfers(), 2);
}

TEST_F(ClientListTest, FinishedRecordStaysListedFiveSecondsThenFreedThreeLater) {
    TransferSession* a = add(1, 100);
    mark_finished(a, 100);
    sweep_transfers_at(105);  // not more than 5 s yet
    EXPECT_EQ(count_transfers(), 1);
    sweep_transfers_at(106);
    EXPECT_EQ(count_transfers(), 0);
    EXPECT_EQ(count_retired(), 1);
    sweep_transfers_at(109);  // retired at 106: not more than 3 s yet
    EXPECT_EQ(count_retired(), 1);
    sweep_transfers_at(110);
    EXPECT_EQ(count_retired(), 0);
}

TEST_F(ClientListTest, ALongTransferAtTheHeadHoldsBackLaterOnes) {
    TransferSession* running = add(1, 100);
    TransferSession* done = add(1, 101);
    mark_finished(done, 0);
    sweep_transfers_at(100);
    EXPECT_EQ(count_transfers(), 2);
    mark_finished(running, 100);
    sweep_transfers_at(106);
    sweep_transfers_at(106);  // one record retires per step
    EXPECT_EQ(count_transfers(), 0);
    EXPECT_EQ(count_retired(), 2);
}

// The list empties while a retired record still waits; records that retire
// after the next start must still be freed.
TEST_F(ClientListTest, RecordsRetiredAfterTheListRestartsAreFreed) {
    TransferSession* a = add(1, 100);
    mark_finished(a, 0);
    sweep_transfers_at(1);
    sweep_transfers_at(6);  // a retires; the list is empty
    EXPECT_EQ(count_transfers(), 0);
    TransferSession* b = add(1, 101);
    EXPECT_EQ(list_head(), b);
    mark_finished(b, 7);
    sweep_transfers_at(13);  // b retires, a is freed
    EXPECT_EQ(count_retired(), 1);
    sweep_transfers_at(17);
    EXPECT_EQ(count_retired(), 0);
    EXPECT_EQ(list_head(), nullptr);
}

// The admission lookup keeps an index of running records: once the sweep
// has freed a record, no lookup may touch it (the sanitizer build sees it).
TEST_F(ClientListTest, LookupNeverReachesARecordTheSweepFreed) {
    TransferSession* a = add(1, 100);
    add(2, 200);
    mark_finished(a, 0);
    sweep_transfers_at(6);
    sweep_transfers_at(10);
    EXPECT_EQ(count_retired(), 0);
    EXPECT_EQ(find_active_transfer(1, 100), nullptr);
    EXPECT_NE(find_active_transfer(2, 200), nullptr);
}

TEST_F(ClientListTest, WalkersSeeRecordsInAdmissionOrder) {
    TransferSession* a = add(1, 1);
    TransferSession* b = add(1, 2);
    TransferSession* c = add(1, 3);
    EXPECT_EQ(list_head(), a);
    EXPECT_EQ(list_next(a), b);
    EXPECT_EQ(list_next(b), c);
    EXPECT_EQ(list_next(c), nullptr);
}

}  // namespace
