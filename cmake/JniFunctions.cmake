# The natives of CESerialPort and CECommDriver: the only functions the library
# exports, which the tests find in the export table of every build.
set(TARVESK_JNI_FUNCTIONS
    Java_quorin_io_comm_CESerialPort_nativeOpen
    Java_quorin_io_comm_CESerialPort_nativeClose
    Java_quorin_io_comm_CESerialPort_nativeRead
    Java_quorin_io_comm_CESerialPort_nativeWrite
    Java_quorin_io_comm_CESerialPort_nativeAvailable
    Java_quorin_io_comm_CESerialPort_nativeSetSerialPortParams
    Java_quorin_io_comm_CESerialPort_nativeCancelIo
    Java_quorin_io_comm_CESerialPort_nativeWriteBytes
    Java_quorin_io_comm_CESerialPort_nativeReadWithin
    Java_quorin_io_comm_CECommDriver_findSerialPorts
    Java_quorin_io_comm_CECommDriver_findParallelPorts)
