# The load server client on Windows: the CryptoAPI cipher, and the Schannel
# channel against the Linux TLS peer (peers/TlsScenarioPeer.cpp) that
# server.run.sh starts.
korvane_windows_test(challenge_cipher_win32_tests SOURCES ChallengeCipherWin32Test.cpp LIBS korvane_server)
korvane_windows_test(secure_channel_win32_tests SOURCES SecureChannelWin32Test.cpp LIBS korvane_server)
