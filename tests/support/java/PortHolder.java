/** Stands in for CESerialPort: the bridge needs nothing of it but the field. */
public class PortHolder {
  public long nativeHandle;
}
