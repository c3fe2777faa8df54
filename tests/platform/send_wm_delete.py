# Sends WM_DELETE_WINDOW to a window, as a window manager's close button does:
# python3 send_wm_delete.py WINDOW_ID
import ctypes, struct, sys
x = ctypes.CDLL("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XInternAtom.restype = ctypes.c_ulong
x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_char_p]
d = x.XOpenDisplay(None)
window = int(sys.argv[1])
protocols = x.XInternAtom(d, b"WM_PROTOCOLS", 0)
delete = x.XInternAtom(d, b"WM_DELETE_WINDOW", 0)
event = struct.pack("=i4xQi4xQQQi4x5q", 33, 0, 1, 0, window, protocols, 32, delete, 0, 0, 0, 0)
event += b"\0" * (192 - len(event))
x.XSendEvent(d, window, 0, 0, event)
x.XFlush.argtypes = [ctypes.c_void_p]
x.XFlush(d)
