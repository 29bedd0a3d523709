# The interpreters and the decoded values in both languages, in one
# program. Plain C++, no Qt.
quenta_test(protocol_test TIMEOUT 60 LABELS protocol
  SOURCES protocol_en_test.cpp protocol_de_test.cpp protocol_modes_test.cpp
          protocol_values_test.cpp protocol_locale_test.cpp
  LIBS quenta_protocol)
