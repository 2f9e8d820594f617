; TAVROL.VXD: the virtual device driver of Windows 98 SE and Me through which Tavrol.exe reads and
; writes the straps register of an NVIDIA graphics card. Windows loads it when the program opens
; "\\.\TAVROL.VXD" (with FILE_FLAG_DELETE_ON_CLOSE) and unloads it when that handle is closed; it
; keeps no state between requests.
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

; ---- The program's requests: VxdPhysDwordRequest ----------------------------------------------
VXD_PHYS_READ_DWORD     equ 1
VXD_PHYS_WRITE_DWORD    equ 2
REQUEST_SIZE            equ 12
REQUEST_BUS             equ 0
REQUEST_ADDRESS         equ 4
REQUEST_VALUE           equ 8

; ---- The one register the driver reaches ------------------------------------------------------
NVIDIA_VENDOR_ID        equ 0x10DE
DISPLAY_BASE_CLASS      equ 0x03
PCI_COMMAND_MEMORY      equ 0x0002
NVIDIA_STRAPS_OFFSET    equ 0x101000    ; from the base of memory BAR 0
PCI_CONFIG_ADDRESS      equ 0x0CF8      ; configuration mechanism #1
PCI_CONFIG_DATA         equ 0x0CFC

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
        mov     ecx, [esi + DIOC_IO_CONTROL_CODE]
        xor     eax, eax
        cmp     ecx, DIOC_OPEN                  ; the open asks whether we serve requests: yes
        je      .done
        cmp     ecx, DIOC_CLOSEHANDLE           ; and the close needs no clean-up
        je      .done
        mov     edi, [esi + DIOC_BYTES_RETURNED]
        test    edi, edi
        jz      .counted
        mov     dword [edi], 0                  ; no bytes until a read has written its record
.counted:
        mov     eax, ERROR_INVALID_FUNCTION
        cmp     ecx, VXD_PHYS_READ_DWORD
        je      .read
        cmp     ecx, VXD_PHYS_WRITE_DWORD
        jne     .done
        call    write_phys_dword
        jmp     .done
.read:
        call    read_phys_dword
.done:
        pop     edi
        pop     ebx
        clc
        ret

; Code 1: the input and the output are one 12-byte record each; the output gets the request back
; with the register's value.
read_phys_dword:
        mov     eax, ERROR_INVALID_PARAMETER
        cmp     dword [esi + DIOC_OUT_SIZE], REQUEST_SIZE
        jne     .done
        cmp     dword [esi + DIOC_OUT_BUFFER], 0
        je      .done
        call    load_request
        jc      .done
        call    map_straps_register
        jc      .done
        mov     edx, [eax]                      ; the one read of the register
        mov     edi, [esi + DIOC_OUT_BUFFER]
        mov     [edi + REQUEST_BUS], ebx
        mov     [edi + REQUEST_ADDRESS], ecx
        mov     [edi + REQUEST_VALUE], edx
        mov     edi, [esi + DIOC_BYTES_RETURNED]
        test    edi, edi
        jz      .written
        mov     dword [edi], REQUEST_SIZE
.written:
        xor     eax, eax
.done:
        ret

; Code 2: the input is one 12-byte record; nothing is written back.
write_phys_dword:
        call    load_request
        jc      .done
        call    map_straps_register
        jc      .done
        mov     [eax], edx                      ; the one write of the register
        xor     eax, eax
.done:
        ret

; Takes the input record: carry clear with EBX = bus, ECX = address, EDX = value, or carry set
; with EAX = the error when the record is missing or of another size. The whole record is read
; before anything is written, so the output may be the input's own buffer.
load_request:
        mov     eax, ERROR_INVALID_PARAMETER
        cmp     dword [esi + DIOC_IN_SIZE], REQUEST_SIZE
        jne     .refuse
        mov     edx, [esi + DIOC_IN_BUFFER]
        test    edx, edx
        jz      .refuse
        mov     ebx, [edx + REQUEST_BUS]
        mov     ecx, [edx + REQUEST_ADDRESS]
        mov     edx, [edx + REQUEST_VALUE]
        clc
        ret
.refuse:
        stc
        ret

; EBX = bus, ECX = physical address. Carry clear with EAX = a linear address of that dword when it
; is the straps register of an NVIDIA display function on that bus; carry set with EAX = the error
; otherwise. Keeps EBX, ECX and EDX.
map_straps_register:
        call    is_straps_register
        mov     eax, ERROR_ACCESS_DENIED
        jc      .refuse
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
        clc
        ret
.unmapped:
        mov     eax, ERROR_GEN_FAILURE
.refuse:
        stc
        ret

; Whether ECX is the 32-bit memory BAR 0 + 0x101000 of a function on bus EBX with NVIDIA's vendor
; ID, the display base class and memory decoding on: carry clear when it is. Only that exact
; address passes, so it is always dword aligned (a BAR's base is). Every function number of the
; bus is asked; an empty one answers all ones. Keeps every register but EAX.
is_straps_register:
        cmp     ebx, 0xFF
        ja      .no
        push    edi
        mov     edi, ebx
        shl     edi, 16
        or      edi, 0x80000000                 ; device 0, function 0 of the bus
.function:
        mov     eax, 0x00                       ; vendor and device ID
        call    read_config
        cmp     ax, NVIDIA_VENDOR_ID
        jne     .next
        mov     eax, 0x08                       ; class code and revision
        call    read_config
        shr     eax, 24
        cmp     al, DISPLAY_BASE_CLASS
        jne     .next
        mov     eax, 0x04                       ; command and status
        call    read_config
        test    al, PCI_COMMAND_MEMORY
        jz      .next
        mov     eax, 0x10                       ; BAR 0
        call    read_config
        test    al, 0x07                        ; memory (bit 0 clear), 32-bit (bits 2..1 clear)
        jnz     .next
        and     eax, 0xFFFFFFF0
        jz      .next                           ; not assigned
        add     eax, NVIDIA_STRAPS_OFFSET
        jc      .next
        cmp     eax, ecx
        je      .found
.next:
        add     edi, 0x100                      ; next device/function number
        test    edi, 0xFF00
        jnz     .function                       ; until all 256 of the bus are asked
        pop     edi
.no:
        stc
        ret
.found:
        pop     edi
        clc
        ret

; EAX = dword-aligned register, EDI = 0x80000000 | bus << 16 | device/function << 8. Answers the
; register in EAX. The address and data ports form one pair that other code (the PCI BIOS, run
; for another program) may be in the middle of using: interrupts stay off while the pair is ours,
; and its address goes back as it was. Keeps every register but EAX.
read_config:
        push    ecx
        push    edx
        mov     ecx, eax
        or      ecx, edi
        pushfd
        cli
        mov     dx, PCI_CONFIG_ADDRESS
        in      eax, dx
        push    eax                             ; the address someone else may have set
        mov     eax, ecx
        out     dx, eax
        mov     dx, PCI_CONFIG_DATA
        in      eax, dx
        mov     ecx, eax
        pop     eax
        mov     dx, PCI_CONFIG_ADDRESS
        out     dx, eax
        mov     eax, ecx
        popfd
        pop     edx
        pop     ecx
        ret
