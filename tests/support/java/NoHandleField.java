/** A peer class that lacks the nativeHandle field the bridge binds through. */
public class NoHandleField {}
