# The interpreters, once per language: each test program defines englishUI
# itself. Plain C++, no Qt.
quenta_test(protocol_en_test TIMEOUT 60 LABELS protocol
  SOURCES protocol_en_test.cpp protocol_modes_test.cpp
  LIBS quenta_protocol)
quenta_test(protocol_de_test TIMEOUT 60 LABELS protocol
  SOURCES protocol_de_test.cpp
  LIBS quenta_protocol)
