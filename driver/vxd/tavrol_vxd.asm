; TAVROL.VXD: the virtual device driver of Windows 98 SE and Me through which Tavrol.exe reaches PCI
; configuration space and the straps register of an NVIDIA graphics card. Windows loads it when the
; program opens "\\.\TAVROL.VXD" (with FILE_FLAG_DELETE_ON_CLOSE) and unloads it when that handle
; is closed. A Win32 program of Windows 9x cannot call the PCI BIOS itself: the system VM is a
; 16-bit DPMI client, so the VMM would take its INT 1Ah for a 16-bit one. Configuration space is
; reached here instead, with configuration mechanism #1.
;
; It grants exactly what the kernel driver of the NT family grants (driver/request_core.cpp):
; configuration reads anywhere, configuration writes only to the AGP command register found by the
; PCI capability walk (driver/pci_capability.h), and one physical dword, the straps register. Its
; one state is the linear address of the straps register, mapped at the first request that needs
; it and reused for the rest of the load.
;
; Requests (driver/tavrol_ioctl.h); input and output are records of the code's size, and a
; request that succeeds writes the whole record back:
;   1, 2  VXD_PHYS_READ_DWORD, VXD_PHYS_WRITE_DWORD (VxdPhysDwordRequest, 12 bytes)
;   3     VXD_PCI_PRESENT: configuration mechanism #1 answers (VxdPciDwordRequest, value "PCI ")
;   4     VXD_PCI_FIND_CLASS: the index-th function of a class, in bus order (VxdPciClassRequest)
;   5     VXD_PCI_READ_CONFIG_SPACE: 256 bytes of one function (VxdPciConfigBlock, 260 bytes)
;   6, 7  VXD_PCI_READ_CONFIG_DWORD, VXD_PCI_WRITE_CONFIG_DWORD (VxdPciDwordRequest, 12 bytes)
; Errors, answered in EAX and returned by DeviceIoControl through GetLastError:
;   1   ERROR_INVALID_FUNCTION   a code the driver does not serve
;   5   ERROR_ACCESS_DENIED      outside the rule: another physical address, a register other
;                                than the AGP command register, a bus or address beyond PCI's
;   31  ERROR_GEN_FAILURE        the function does not exist, the straps cannot be mapped, or
;                                configuration mechanism #1 does not answer
;   87  ERROR_INVALID_PARAMETER  a record missing or of another size
;   259 ERROR_NO_MORE_ITEMS      no function of that class at that index
;   998 ERROR_NOACCESS           a record or the byte count outside the caller's address space
;
; nasm makes an ELF object of this file and make_le.py links that into the LE image Windows loads.
; Everything lives in one section, the one locked object of the image: a dynamically loaded VxD
; must keep its control procedure in locked memory.
;
; The numbers below are those of the Windows 95/98 DDK (vmm.inc, vwin32.inc, winerror.h) and of
; the program's own request records (driver/tavrol_ioctl.h).

bits 32
cpu 386

; ---- Control messages (vmm.inc) -------------------------------------------------------------
W32_DEVICEIOCONTROL     equ 0x23

; ---- DIOCParams (vwin32.inc): what DeviceIoControl passed, ESI points at it ------------------
DIOC_OPEN               equ 0
DIOC_CLOSEHANDLE        equ -1
DIOC_IO_CONTROL_CODE    equ 0x0C
DIOC_IN_BUFFER          equ 0x10
DIOC_IN_SIZE            equ 0x14
DIOC_OUT_BUFFER         equ 0x18
DIOC_OUT_SIZE           equ 0x1C
DIOC_BYTES_RETURNED     equ 0x20

; ---- VMM services: int 20h and a dword (device ID << 16 | service), patched by the loader ----
VMM_DEVICE_ID           equ 0x0001
MAP_PHYS_TO_LINEAR      equ 0x006C      ; _MapPhysToLinear(PhysAddr, nBytes, flags), C convention
%macro VMMCall 1
        int     0x20
        dd      (VMM_DEVICE_ID << 16) | %1
%endmacro

; ---- Win32 error codes returned in EAX --------------------------------------------------------
ERROR_INVALID_FUNCTION  equ 1
ERROR_ACCESS_DENIED     equ 5
ERROR_GEN_FAILURE       equ 31
ERROR_INVALID_PARAMETER equ 87
ERROR_NO_MORE_ITEMS     equ 259
ERROR_NOACCESS          equ 998

; ---- The caller's part of the address space: a Win32 program reaches neither the MS-DOS
; compatibility arena below 4 MiB nor the system arena from 3 GiB up (Q125691) -----------------
USER_ARENA_START        equ 0x00400000
USER_ARENA_END          equ 0xC0000000

; ---- The program's requests -------------------------------------------------------------------
VXD_PHYS_READ_DWORD     equ 1
VXD_PHYS_WRITE_DWORD    equ 2
VXD_PCI_PRESENT         equ 3
VXD_PCI_FIND_CLASS      equ 4
VXD_PCI_READ_CONFIG_SPACE equ 5
VXD_PCI_READ_CONFIG_DWORD equ 6
VXD_PCI_WRITE_CONFIG_DWORD equ 7
LAST_CODE               equ 7
RECORD_SIZE             equ 12          ; every record but the configuration block
BLOCK_SIZE              equ 260         ; VxdPciConfigBlock: address, then 256 bytes
; VxdPhysDwordRequest: bus, address, value; VxdPciDwordRequest: PCI address, register, value;
; VxdPciClassRequest: class code, index, PCI address. A PCI address is the BIOS's form: bus in
; bits 15..8, device in bits 7..3, function in bits 2..0.
RECORD_FIRST            equ 0
RECORD_SECOND           equ 4
RECORD_VALUE            equ 8
PCI_SIGNATURE           equ 0x20494350  ; "PCI "

; ---- PCI -------------------------------------------------------------------------------------
PCI_CONFIG_ADDRESS      equ 0x0CF8      ; configuration mechanism #1
PCI_CONFIG_DATA         equ 0x0CFC
CONFIG_ENABLE           equ 0x80000000
NEXT_FUNCTION           equ 0x100       ; steps of the configuration address
NEXT_DEVICE             equ 0x800
DEVICE_FIELD            equ 0xF800
FUNCTION_ZERO           equ 0xFFFFF800
MULTI_FUNCTION          equ 0x00800000  ; header type bit 7, in the dword at 0Ch
STATUS_CAPABILITY_LIST  equ 0x00100000  ; status bit 4, in the dword at 04h
HEADER_LAYOUT           equ 0x007F0000  ; header type bits 6..0, in the dword at 0Ch
FIRST_CAPABILITY        equ 0x40
MAX_CAPABILITIES        equ 48          ; more steps have come round a loop
CAPABILITY_AGP          equ 2
AGP_COMMAND             equ 8           ; from the capability
AGP_CAPABILITY_LENGTH   equ 12

; ---- The one physical dword the driver reaches -----------------------------------------------
NVIDIA_VENDOR_ID        equ 0x10DE
DISPLAY_BASE_CLASS      equ 0x03
PCI_COMMAND_MEMORY      equ 0x0002
NVIDIA_STRAPS_OFFSET    equ 0x101000    ; from the base of memory BAR 0
STRAPS_WINDOW_MASK      equ 0x00FFFFFF  ; BAR 0 is aligned to the 16 MiB a GeForce decodes

section _LTEXT progbits alloc exec write align=16

; The device descriptor block, exported as ordinal 1 (TAVROL_DDB). Its name is the file's: Windows
; unloads a dynamic VxD at the last close only when the two agree.
global TAVROL_DDB
TAVROL_DDB:
        dd      0                       ; DDB_Next
        dw      0x0400                  ; DDB_SDK_Version: DDK_VERSION of Windows 95
        dw      0                       ; DDB_Req_Device_Number: Undefined_Device_ID (no services)
        db      1, 0                    ; DDB_Dev_Major_Version, DDB_Dev_Minor_Version
        dw      0                       ; DDB_Flags
        db      'TAVROL  '              ; DDB_Name
        dd      0x80000000              ; DDB_Init_Order: UNDEFINED_INIT_ORDER
        dd      control_procedure       ; DDB_Control_Proc
        dd      0, 0                    ; DDB_V86_API_Proc, DDB_PM_API_Proc
        dd      0, 0                    ; DDB_V86_API_CSIP, DDB_PM_API_CSIP
        dd      0                       ; DDB_Reference_Data
        dd      0, 0                    ; DDB_Service_Table_Ptr, DDB_Service_Table_Size
        dd      0                       ; DDB_Win32_Service_Table
        dd      0x50726576              ; DDB_Prev: 'Prev' as MASM stores it
        dd      DDB_SIZE                ; DDB_Size
        dd      0x52737631              ; DDB_Reserved1: 'Rsv1'
        dd      0x52737632              ; DDB_Reserved2: 'Rsv2'
        dd      0x52737633              ; DDB_Reserved3: 'Rsv3'
DDB_SIZE equ $ - TAVROL_DDB

; The straps register mapped by this load: its physical and linear address (0: none yet).
; _MapPhysToLinear's mappings last until Windows shuts down, so each load maps it once.
straps_physical         dd 0
straps_linear           dd 0

; Per code from 1: the handler and the size of its record.
handlers        dd phys_request, phys_request, pci_present, find_class, read_config_space
                dd config_dword, config_dword
record_sizes    dd RECORD_SIZE, RECORD_SIZE, RECORD_SIZE, RECORD_SIZE, BLOCK_SIZE
                dd RECORD_SIZE, RECORD_SIZE

; EAX = message, ESI = its parameter. Sys_Dynamic_Device_Init (1Bh) and Sys_Dynamic_Device_Exit
; (1Ch) find nothing to set up or tear down; like every other message they succeed, carry clear.
control_procedure:
        cmp     eax, W32_DEVICEIOCONTROL
        je      device_io_control
        clc
        ret

; ESI = DIOCParams. Answers EAX = 0 or a Win32 error code, which DeviceIoControl hands to the
; program; keeps EBX, ESI, EDI and EBP.
device_io_control:
        push    ebx
        push    edi
        push    ebp
        mov     ecx, [esi + DIOC_IO_CONTROL_CODE]
        xor     eax, eax
        cmp     ecx, DIOC_OPEN                  ; the open asks whether we serve requests: yes
        je      .done
        cmp     ecx, DIOC_CLOSEHANDLE           ; and the close needs no clean-up
        je      .done
        mov     edx, [esi + DIOC_BYTES_RETURNED]
        test    edx, edx
        jz      .counted
        push    ecx
        mov     ecx, 4
        mov     eax, ERROR_NOACCESS
        call    check_user_range
        pop     ecx
        jc      .done
        mov     dword [edx], 0                  ; no bytes until a request has written its record
.counted:
        mov     eax, ERROR_INVALID_FUNCTION
        cmp     ecx, 1
        jb      .done
        cmp     ecx, LAST_CODE
        ja      .done
        mov     ebp, ecx
        mov     ecx, [record_sizes + ebp * 4 - 4]
        call    check_records
        jc      .done
        call    [handlers + ebp * 4 - 4]
        test    eax, eax
        jnz     .done
        mov     edx, [esi + DIOC_BYTES_RETURNED]
        test    edx, edx
        jz      .done
        mov     ecx, [esi + DIOC_OUT_SIZE]
        mov     [edx], ecx
.done:
        pop     ebp
        pop     edi
        pop     ebx
        clc
        ret

; ECX = the code's record size. Carry clear when input and output are records of that size in the
; caller's part of the address space; carry set with EAX = the error otherwise.
check_records:
        mov     eax, ERROR_INVALID_PARAMETER
        cmp     [esi + DIOC_IN_SIZE], ecx
        jne     .refuse
        cmp     [esi + DIOC_OUT_SIZE], ecx
        jne     .refuse
        mov     edx, [esi + DIOC_IN_BUFFER]
        test    edx, edx
        jz      .refuse
        cmp     dword [esi + DIOC_OUT_BUFFER], 0
        je      .refuse
        mov     eax, ERROR_NOACCESS
        call    check_user_range
        jc      .refuse
        mov     edx, [esi + DIOC_OUT_BUFFER]
        call    check_user_range
        jc      .refuse
        clc
        ret
.refuse:
        stc
        ret

; Whether the ECX bytes at EDX lie in the caller's arenas: carry clear when they do. Keeps every
; register.
check_user_range:
        cmp     edx, USER_ARENA_START
        jb      .outside
        push    edx
        add     edx, ecx
        jc      .outside_popped
        cmp     edx, USER_ARENA_END
        pop     edx
        ja      .outside
        clc
        ret
.outside_popped:
        pop     edx
.outside:
        stc
        ret

; Answers the request: EBX, ECX and EDX into the three dwords of the output record, EAX = 0.
answer_record:
        mov     edi, [esi + DIOC_OUT_BUFFER]
        mov     [edi + RECORD_FIRST], ebx
        mov     [edi + RECORD_SECOND], ecx
        mov     [edi + RECORD_VALUE], edx
        xor     eax, eax
        ret

; Takes the input record: EBX, ECX and EDX = its three dwords. The whole record is read before
; anything is written, so the output may be the input's own buffer.
load_record:
        mov     edx, [esi + DIOC_IN_BUFFER]
        mov     ebx, [edx + RECORD_FIRST]
        mov     ecx, [edx + RECORD_SECOND]
        mov     edx, [edx + RECORD_VALUE]
        ret

; Codes 1 and 2: the one read or write of the straps register.
phys_request:
        call    load_record
        call    map_straps_register
        jc      .done
        cmp     ebp, VXD_PHYS_WRITE_DWORD
        je      .write
        mov     edx, [eax]
        jmp     answer_record
.write:
        mov     [eax], edx
        jmp     answer_record
.done:
        ret

; EBX = bus, ECX = physical address. Carry clear with EAX = a linear address of that dword when it
; is the straps register of an NVIDIA display function on that bus; carry set with EAX = the error
; otherwise. Keeps EBX, ECX and EDX.
map_straps_register:
        mov     eax, ERROR_ACCESS_DENIED
        cmp     ebx, 0xFF
        ja      .refuse
        push    ebp
        mov     ebp, straps_visitor
        mov     edi, ebx
        shl     edi, 16
        or      edi, CONFIG_ENABLE              ; device 0, function 0 of the bus
        call    walk_bus
        pop     ebp
        mov     eax, ERROR_ACCESS_DENIED
        jc      .refuse
        mov     eax, [straps_linear]
        test    eax, eax
        jz      .map
        cmp     ecx, [straps_physical]
        je      .mapped
.map:
        push    ecx
        push    edx
        push    0                               ; flags: must be 0
        push    4                               ; nBytes: the one dword
        push    ecx                             ; PhysAddr
        VMMCall MAP_PHYS_TO_LINEAR              ; uses EAX, ECX and EDX
        add     esp, 12
        pop     edx
        pop     ecx
        cmp     eax, -1                         ; 0FFFFFFFFh: not addressable
        je      .unmapped
        mov     [straps_linear], eax
        mov     [straps_physical], ecx
.mapped:
        clc
        ret
.unmapped:
        mov     eax, ERROR_GEN_FAILURE
.refuse:
        stc
        ret

; EDI = a function, ECX = the physical address asked for: carry clear when it is that function's
; straps register: NVIDIA's vendor ID, the display base class, memory decoding on, and BAR 0 a
; 32-bit memory BAR assigned on a 16 MiB boundary whose base + 0x101000 stays below 4 GiB. Only
; that exact address passes, so it is always dword aligned. Keeps every register but EAX.
straps_visitor:
        xor     eax, eax                        ; vendor and device ID
        call    read_config
        cmp     ax, NVIDIA_VENDOR_ID
        jne     .no
        mov     eax, 0x08                       ; class code and revision
        call    read_config
        shr     eax, 24
        cmp     al, DISPLAY_BASE_CLASS
        jne     .no
        mov     eax, 0x04                       ; command and status
        call    read_config
        test    al, PCI_COMMAND_MEMORY
        jz      .no
        mov     eax, 0x10                       ; BAR 0
        call    read_config
        test    al, 0x07                        ; memory (bit 0 clear), 32-bit (bits 2..1 clear)
        jnz     .no
        and     eax, 0xFFFFFFF0
        jz      .no                             ; not assigned
        test    eax, STRAPS_WINDOW_MASK
        jnz     .no
        add     eax, NVIDIA_STRAPS_OFFSET
        jc      .no
        cmp     eax, ecx
        jne     .no
        clc
        ret
.no:
        stc
        ret

; The configuration requests and the walk, port and capability primitives they share.
%include "pci_config.asm"
