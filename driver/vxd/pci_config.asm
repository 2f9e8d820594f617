; TAVROL.VXD, continued: configuration space through configuration mechanism #1 (codes 3 to 7),
; the walk over a bus's functions and the capability walk, under the kernel driver's rule.
; Included at the end of tavrol_vxd.asm, whose constants and record helpers it uses.

; Code 3: whether configuration mechanism #1 answers. Its address port keeps what is written to it
; (the PCI Local Bus Specification's test); the value answers "PCI ".
pci_present:
        call    load_record
        push    edx
        mov     dx, PCI_CONFIG_ADDRESS
        pushfd
        cli
        in      eax, dx
        mov     edi, eax
        mov     eax, CONFIG_ENABLE
        out     dx, eax
        in      eax, dx
        xchg    eax, edi
        out     dx, eax
        popfd
        pop     edx
        mov     eax, ERROR_GEN_FAILURE
        cmp     edi, CONFIG_ENABLE
        jne     .done
        mov     edx, PCI_SIGNATURE
        jmp     answer_record
.done:
        ret

; Code 4: the function at EBX's index in the order of the walk over buses 0 to 255, whose class
; code (24 bits) is ECX's.
find_class:
        call    load_record
        push    edx
        mov     edx, ebx                        ; the class code
        mov     eax, ecx                        ; the index
        and     edx, 0x00FFFFFF
        push    ebx
        push    ecx
        mov     ebx, edx
        mov     ecx, eax
        mov     edi, CONFIG_ENABLE              ; bus 0
        push    ebp
        mov     ebp, class_visitor
.bus:
        call    walk_bus
        jnc     .found
        cmp     edi, CONFIG_ENABLE | 0x01000000 ; past bus 255
        jb      .bus
        pop     ebp
        pop     ecx
        pop     ebx
        pop     edx
        mov     eax, ERROR_NO_MORE_ITEMS
        ret
.found:
        pop     ebp
        pop     ecx
        pop     ebx
        pop     edx
        mov     edx, edi
        shr     edx, 8
        and     edx, 0xFFFF                     ; the PCI address
        jmp     answer_record

; EDI = a function, EBX = the class wanted, ECX = matches still to skip: carry clear at the match
; that ends the walk. Keeps every register but EAX and ECX.
class_visitor:
        mov     eax, 0x08
        call    read_config
        shr     eax, 8
        cmp     eax, ebx
        jne     .other
        sub     ecx, 1
        jnc     .other                          ; not yet the index-th
        clc
        ret
.other:
        stc
        ret

; Code 5: the 256 bytes of one function's configuration space.
read_config_space:
        mov     edx, [esi + DIOC_IN_BUFFER]
        mov     ebx, [edx + RECORD_FIRST]
        call    function_address
        jc      .done
        mov     edx, [esi + DIOC_OUT_BUFFER]
        mov     [edx + RECORD_FIRST], ebx
        xor     ecx, ecx
.dword:
        mov     eax, ecx
        call    read_config
        mov     [edx + 4 + ecx], eax
        add     ecx, 4
        cmp     ecx, 256
        jb      .dword
        xor     eax, eax
.done:
        ret

; Codes 6 and 7: one configuration dword. Writes reach nothing but the AGP command register: the
; program needs no other, and a driver that could rewrite any register would let any caller remap
; devices.
config_dword:
        call    load_record
        mov     eax, ERROR_ACCESS_DENIED
        cmp     ecx, 0xFC
        ja      .done
        test    ecx, 3
        jnz     .done
        call    function_address
        jc      .done
        cmp     ebp, VXD_PCI_WRITE_CONFIG_DWORD
        je      .write
        mov     eax, ecx
        call    read_config
        mov     edx, eax
        jmp     answer_record
.write:
        call    find_agp_command
        jc      .refuse
        cmp     eax, ecx
        jne     .refuse
        call    write_config
        jmp     answer_record
.refuse:
        mov     eax, ERROR_ACCESS_DENIED
.done:
        ret

; EBX = a PCI address. Carry clear with EDI = its configuration address when the function exists;
; carry set with EAX = the error otherwise. Keeps every other register.
function_address:
        mov     eax, ERROR_ACCESS_DENIED
        test    ebx, 0xFFFF0000                 ; 8 bits of bus, 5 of device, 3 of function
        jnz     .refuse
        mov     edi, ebx
        shl     edi, 8
        or      edi, CONFIG_ENABLE
        xor     eax, eax
        call    read_config
        cmp     ax, 0xFFFF                      ; nothing answers there
        mov     eax, ERROR_GEN_FAILURE
        je      .refuse
        clc
        ret
.refuse:
        stc
        ret

; EDI = a function. Carry clear with EAX = the offset of its AGP command register, found by the
; capability walk of driver/pci_capability.h; carry set when it has none. Keeps every other
; register.
find_agp_command:
        push    ecx
        push    edx
        mov     eax, 0x04
        call    read_config
        test    eax, STATUS_CAPABILITY_LIST
        jz      .none
        mov     eax, 0x0C
        call    read_config
        test    eax, HEADER_LAYOUT & 0x007E0000 ; layouts 0 and 1 have a capabilities pointer
        jnz     .none
        mov     eax, 0x34
        call    read_config
        mov     edx, eax                        ; DL = the pointer
        mov     ecx, MAX_CAPABILITIES
.entry:
        movzx   eax, dl
        and     al, 0xFC                        ; the low two bits are reserved
        cmp     eax, FIRST_CAPABILITY
        jb      .none
        mov     edx, eax
        call    read_config                     ; ID in bits 7..0, next pointer in 15..8
        cmp     al, CAPABILITY_AGP
        je      .agp
        mov     dl, ah
        loop    .entry
.none:
        pop     edx
        pop     ecx
        stc
        ret
.agp:
        cmp     edx, 256 - AGP_CAPABILITY_LENGTH
        ja      .none
        lea     eax, [edx + AGP_COMMAND]
        pop     edx
        pop     ecx
        clc
        ret

; Walks the functions of the bus at EDI (its device 0, function 0) as the PCI BIOS and the kernel
; driver do: function 0 of every device that answers, and functions 1 to 7 only when function 0's
; header type says multi-function. Calls EBP with EDI = each function that answers; carry clear
; from it ends the walk with EDI at that function. Carry set when the bus ran out, with EDI at the
; next bus. Keeps every register but EAX and EDI (and what EBP changes).
walk_bus:
        push    edx
.device:
        xor     eax, eax
        call    read_config
        cmp     ax, 0xFFFF                      ; no device here
        je      .next_device
        mov     eax, 0x0C
        call    read_config
        mov     edx, 1
        test    eax, MULTI_FUNCTION
        jz      .function
        mov     edx, 8
.function:
        xor     eax, eax
        call    read_config
        cmp     ax, 0xFFFF                      ; an empty function number answers all ones
        je      .next_function
        call    ebp
        jnc     .stopped
.next_function:
        dec     edx
        jz      .next_device
        add     edi, NEXT_FUNCTION
        jmp     .function
.next_device:
        and     edi, FUNCTION_ZERO
        add     edi, NEXT_DEVICE
        test    edi, DEVICE_FIELD
        jnz     .device                         ; until device 31 carries into the bus
        pop     edx
        stc
        ret
.stopped:
        pop     edx
        clc
        ret

; EAX = dword-aligned register, EDI = CONFIG_ENABLE | bus << 16 | device/function << 8. Answers the
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

; EAX = dword-aligned register, EDI as for read_config, EDX = the value to write, under the same
; care for the port pair. Keeps every register.
write_config:
        push    eax
        push    ecx
        push    edx
        mov     ecx, eax
        or      ecx, edi
        pushfd
        cli
        push    edx
        mov     dx, PCI_CONFIG_ADDRESS
        in      eax, dx
        xchg    eax, ecx                        ; ECX = the address to put back
        out     dx, eax
        pop     eax
        mov     dx, PCI_CONFIG_DATA
        out     dx, eax
        mov     eax, ecx
        mov     dx, PCI_CONFIG_ADDRESS
        out     dx, eax
        popfd
        pop     edx
        pop     ecx
        pop     eax
        ret
