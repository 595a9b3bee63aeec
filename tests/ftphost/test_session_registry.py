import threading
import unittest

from questions import LoginLimits
from session_policy import Refusal, SessionRegistry


class Registry(unittest.TestCase):
    def test_sessions_of_a_user_count_without_regard_to_case(self):
        registry = SessionRegistry()
        limits = LoginLimits(max_concurrent=2)
        registry.admit("bob", "127.0.0.1", limits)
        registry.admit("BOB", "127.0.0.2", limits)
        with self.assertRaisesRegex(Refusal, "logins for this account"):
            registry.admit("Bob", "127.0.0.3", limits)
        registry.admit("alice", "127.0.0.1", limits)

    def test_released_sessions_no_longer_count(self):
        registry = SessionRegistry()
        limits = LoginLimits(one_per_address=True)
        token = registry.admit("bob", "127.0.0.1", limits)
        with self.assertRaisesRegex(Refusal, "from your address"):
            registry.admit("bob", "127.0.0.1", limits)
        registry.admit("bob", "127.0.0.2", limits)
        registry.release(token)
        registry.release(token)
        registry.admit("bob", "127.0.0.1", limits)
        self.assertEqual(registry.count(), 2)

    def test_the_server_limit_counts_every_user(self):
        registry = SessionRegistry(max_users=2)
        registry.admit("a", "127.0.0.1", LoginLimits())
        registry.admit("b", "127.0.0.1", LoginLimits())
        with self.assertRaisesRegex(Refusal, "Maximum number of users"):
            registry.admit("c", "127.0.0.1", LoginLimits())
        registry.admit("d", "127.0.0.1", LoginLimits(always_login=True))

    def test_logins_at_the_same_moment_cannot_pass_a_limit_together(self):
        registry = SessionRegistry()
        limits = LoginLimits(max_concurrent=3)
        start = threading.Barrier(16)
        admitted = []

        def login():
            start.wait()
            try:
                admitted.append(registry.admit("bob", "127.0.0.1", limits))
            except Refusal:
                pass

        threads = [threading.Thread(target=login) for _ in range(16)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        self.assertEqual(len(admitted), 3)
        self.assertEqual(len(set(admitted)), 3)


if __name__ == "__main__":
    unittest.main()
