// The law-office database as a newly created file must hold it, written out
// by hand from the application's table lists, independently of src/schema.
//
// Tables in creation order. A field line: name, type (Text with its size in
// characters; Text without one takes 255), then what the file stores:
//   req / notreq   Required property True / False (absent: not stored)
//   azl            AllowZeroLength True (Text and Memo store False otherwise)
//   auto           auto-increment
//   =VALUE         DefaultValue property ("=" alone: stored empty)
// An index line: "index", name, fields joined by commas, then its flags as
// stored (a primary index is stored unique and required too).
// A relation line: "rel", name, table, foreign table, field>foreign pairs
// joined by commas, attributes.
#pragma once

inline constexpr const char* kGoldenSchema = R"(
table TConfig
  FConfig01 Boolean req =True
  FConfig02 Long req =0
  FConfig03 Text(100) req =.\Bases\Docs
  FConfig04 Text(100) =V8
table TPaises
  FPa01 Long
  FPa02 Text(20)
  FPa03 Boolean =False
  index Ipaises1 FPa01 primary
  index Ipaises2 FPa02
table TAbogadosDir @dir
rel RAbogadosPais TPaises TAbogadosDir FPa01>FDir10 256
table TAbogados
  FAbo01 Long req auto
  FAbo02 Text(20) azl
  FAbo03 Text(20) azl
  FAbo04 Text(20) azl
  FAbo05 Byte
  FAbo06 Text(9) azl
  FAbo07 Text(20) azl
  FAbo08 Text(20) azl
  FAbo09 Long
  FAbo10 Text(100) azl
  FAbo11 Text(5) req
  index IAbogados1 FAbo01 primary
  index IAbogados2 FAbo02,FAbo03,FAbo04
  index IAbogados3 FAbo11 unique required
rel RAbogadosDir TAbogados TAbogadosDir FAbo01>FDir02 4096
table TProcuradoresDir @dir
rel RProcuradoresPais TPaises TProcuradoresDir FPa01>FDir10 256
table TProcuradores
  FPro01 Long req auto
  FPro02 Text(20) azl
  FPro03 Text(20) azl
  FPro04 Text(20) azl
  FPro05 Byte
  FPro06 Text(9) azl
  FPro07 Text(20) azl
  FPro08 Text(20) azl
  FPro09 Long
  FPro10 Text(100) azl
  FPro11 Text(5) req
  index IProcuradores1 FPro01 primary
  index IProcuradores2 FPro02,FPro03,FPro04
  index IProcuradores3 FPro11 unique required
rel RProcuradoresDir TProcuradores TProcuradoresDir FPro01>FDir02 4096
table TJuzgadosDir @dir
rel RJuzgadosPais TPaises TJuzgadosDir FPa01>FDir10 256
table TJuzgados
  FJuz01 Text(8) req
  FJuz02 Text(5) azl
  FJuz03 Text(3) azl
  FJuz04 Text(70) azl
  FJuz05 Text(100) azl
  FJuz06 Long
  FJuz07 Long req auto
  index IJuzgados1 FJuz01 primary
  index IJuzgados2 FJuz04
  index IJuzgados3 FJuz07 unique required
rel RJuzgadosDir TJuzgados TJuzgadosDir FJuz07>FDir02 4096
table TDocu
  FDoc01 Long auto
  FDoc02 Text(50)
  FDoc03 Text(10) =PROPIOS
  index IDoc01 FDoc01 primary
  index FDoc02 FDoc02 unique
table TCliAsu
  FCliAsu01 Long
  FCliAsu02 Long
  FCliAsu03 Long
  FCliAsu04 Integer
  index ICliAsu1 FCliAsu01,FCliAsu02,FCliAsu03 primary
table TPoder
  FPod01 Integer
  FPod02 Text(20) azl
  FPod03 Date
  FPod04 Text(40) azl
  FPod05 Text(30) azl
  FPod06 Text(100) azl
  index IPoder1 FPod01 primary
rel RPoderPod TPoder TCliAsu FPod01>FCliAsu04 256
table TCliPod
  FCliPod01 Long
  FCliPod02 Integer
  index ICliPod1 FCliPod01,FCliPod02 primary
rel RCliPod TPoder TCliPod FPod01>FCliPod02 256
table TConAsu
  FConAsu01 Long
  FConAsu02 Long
  FConAsu03 Long
  FConAsu04 Long
  FConAsu05 Long
  index IConAsu1 FConAsu01,FConAsu02,FConAsu03 primary
rel RConAsuAboCon TAbogados TConAsu FAbo01>FConAsu04 4096
rel RConAsuProCon TProcuradores TConAsu FPro01>FConAsu05 4096
table TContraDir @dir
rel RContraPais TPaises TContraDir FPa01>FDir10 256
table TContra
  FCon01 Long req auto
  FCon02 Text(40) azl
  FCon03 Text(20) azl
  FCon04 Text(20) azl
  FCon05 Byte
  FCon06 Byte
  FCon07 Text(9) azl
  FCon08 Text(20) azl
  FCon09 Text(20) azl
  FCon10 Long notreq
  FCon11 Text(100) azl
  index IContra1 FCon01 primary
  index IContra2 FCon02,FCon03,FCon04
rel RContraDir TContra TContraDir FCon01>FDir02 4096
rel RContraAsu TContra TConAsu FCon01>FConAsu01 4096
table TIntAsu
  FInAsu01 Long
  FInAsu02 Long
  FInAsu03 Long
  index IIntAsu1 FInAsu01,FInAsu02,FInAsu03 primary
table TInterDir @dir
rel RInterPais TPaises TInterDir FPa01>FDir10 256
table TInter
  FIn01 Long req auto
  FIn02 Text(40) azl
  FIn03 Text(20) azl
  FIn04 Text(20) azl
  FIn05 Byte
  FIn06 Byte
  FIn07 Text(60) azl
  FIn08 Text(9) azl
  FIn09 Text(20) azl
  FIn10 Text(20) azl
  FIn11 Long
  FIn12 Text(100) azl
  index IInter1 FIn01 primary
  index IInter2 FIn02,FIn03,FIn04
rel RInterDir TInter TInterDir FIn01>FDir02 4096
rel RInterAsu TInter TIntAsu FIn01>FInAsu01 4096
table TClientesDir @dir
rel RClientesPais TPaises TClientesDir FPa01>FDir10 256
table TClientes
  FCli01 Long req auto
  FCli02 Text(40) azl
  FCli03 Text(20) azl
  FCli04 Text(20) azl
  FCli05 Byte
  FCli06 Byte
  FCli07 Text(9) azl
  FCli08 Text(20) azl
  FCli09 Text(20) azl
  FCli10 Long notreq
  FCli11 Text(100) azl
  FCli12 Long =Null
  index IClientes1 FCli01 primary
  index IClientes2 FCli02,FCli03,FCli04
  index IClientes3 FCli12 unique
rel RClientesDir TClientes TClientesDir FCli01>FDir02 4096
rel RClientesAsu TClientes TCliAsu FCli01>FCliAsu01 4096
rel RClientespod TClientes TCliPod FCli01>FCliPod01 4096
table TDocAsu
  FDocAsu01 Long notreq
  FDocAsu02 Long req
  FDocAsu03 Long req
  FDocAsu04 Date req
  FDocAsu05 Long auto
  FDocAsu06 Text(50) notreq =
  FDocAsu07 Text notreq azl =
  FDocAsu08 Byte =0
  index IDocAsu FDocAsu01,FDocAsu02,FDocAsu03 required
  index IDocAsuAuto FDocAsu05 primary
table TMaterias
  FMateria01 Long req auto
  FMateria02 Text req
  index IMaterias1 FMateria01 primary
table TSubMaterias
  FSubMateria01 Long req auto
  FSubMateria02 Text req
  FSubMateria03 Long req
  index ISubMaterias1 FSubMateria01 primary
rel RSubMateriaMateria TMaterias TSubMaterias FMateria01>FSubMateria03 4096
table TAsuntos
  FAsu01 Long req
  FAsu02 Long req
  FAsu03 Text(12) azl
  FAsu04 Date
  FAsu05 Long
  FAsu06 Long
  FAsu07 Long
  FAsu08 Long
  FAsu09 Long
  FAsu10 Text(8) azl
  FAsu11 Text(3) azl
  FAsu12 Text(50) azl
  FAsu13 Boolean =0
  FAsu14 Byte =0
  FAsu15 Long
  FAsu16 Double =0
  FAsu17 Double =0
  FAsu18 Text(50) azl
  FAsu19 Date
  FAsu20 Text(50) azl
  FAsu21 Double =0
  FAsu22 Double =0
  FAsu23 Text(8) azl
  FAsu24 Single =0
  FAsu25 Single =0
  FAsu26 Text(25) azl
  FAsu27 Text(25) azl
  index IAsuntos1 FAsu01,FAsu02 primary
rel RAsuntosCon TAsuntos TConAsu FAsu01>FConAsu02,FAsu02>FConAsu03 4096
rel RAsuntosDoc TAsuntos TDocAsu FAsu01>FDocAsu02,FAsu02>FDocAsu03 4096
rel RAsuntosCli TAsuntos TCliAsu FAsu01>FCliAsu02,FAsu02>FCliAsu03 4096
rel RAsuntosInt TAsuntos TIntAsu FAsu01>FInAsu02,FAsu02>FInAsu03 4096
rel RAsuntosAboCli TAbogados TAsuntos FAbo01>FAsu05 4096
rel RAsuntosProCli TProcuradores TAsuntos FPro01>FAsu06 4096
rel RAsuntosJuz TJuzgados TAsuntos FJuz07>FAsu09 4096
rel RAsuntosAud TJuzgados TAsuntos FJuz07>FAsu15 4096
rel RAsuntosMAt TMaterias TAsuntos FMateria01>FAsu07 256
rel RAsuntossubMAt TSubMaterias TAsuntos FSubMateria01>FAsu08 256
table TMinuta
  FMinuta01 Long req
  FMinuta02 Long req
  FMinuta03 Byte
  FMinuta04 Long req
  FMinuta05 Long req
  FMinuta06 Date
  FMinuta07 Double
  FMinuta08 Double
  FMinuta09 Double
  FMinuta10 Single
  FMinuta11 Single
  FMinuta12 Double
  FMinuta13 Double
  FMinuta14 Double
  FMinuta15 Long
  FMinuta16 Boolean
  FMinuta17 Boolean
  FMinuta18 Long
  FMinuta19 Long auto
  index IMinuta1 FMinuta04,FMinuta05,FMinuta16,FMinuta18 required
  index IMinuta2 FMinuta19 primary
rel RMinuAsu TAsuntos TMinuta FAsu01>FMinuta01,FAsu02>FMinuta02 4096
table TDerecho
  FDerecho01 Long req
  FDerecho02 Long req
  FDerecho03 Text(255) req
  FDerecho04 Double req
  FDerecho05 Single =0
  FDerecho06 Single =0
  FDerecho07 Long auto
  FDerecho08 Long
  FDerecho09 Date req
  FDerecho10 Memo azl
  index IDerecho FDerecho07 primary
rel RDerechoFac TMinuta TDerecho FMinuta19>FDerecho08 4096
rel RDerechodere TAsuntos TDerecho FAsu01>FDerecho01,FAsu02>FDerecho02 4096
table TContable @expense =True
  index IContable1 FContable07 primary
  index IContable2 FContable12
rel RContableAsu TAsuntos TContable FAsu01>FContable01,FAsu02>FContable02 4096
rel RContableFac TMinuta TContable FMinuta19>FContable12 4096
table THistorico
  FHist01 Long req
  FHist02 Long req
  FHist03 Date req
  FHist04 Long auto
  index IHisto1 FHist04 primary
rel RHistoricoAsu TAsuntos THistorico FAsu01>FHist01,FAsu02>FHist02 4096
table THistoricoSec
  FHistSec01 Long req
  FHistSec02 Text(5) azl
  FHistSec03 Memo azl
  FHistSec04 Boolean
  FHistSec05 Text(10) azl
  FHistSec06 Text(5) azl
  FHistSec07 Byte =0
  index Ind_HistSec FHistSec01 primary
rel RHistoricoSec THistorico THistoricoSec FHist04>FHistSec01 4096
table TGastosNo @expense
  index IContable1 FContable07 primary
rel RGastosNoAsu TAsuntos TGastosNo FAsu01>FContable01,FAsu02>FContable02 4096
rel RGastosNoFac TMinuta TGastosNo FMinuta19>FContable12 4096
table TGCobros
  FGCobros01 Long req
  FGCobros02 Long req
  FGCobros03 Date req
  FGCobros04 Text(100) azl
  FGCobros05 Double =0
  FGCobros06 Single =0
  FGCobros07 Single =0
  index IGCobros01 FGCobros01,FGCobros02,FGCobros03 primary
rel RGCobrosAsu TAsuntos TGCobros FAsu01>FGCobros01,FAsu02>FGCobros02 4096
table TGprovi
  FGprovi01 Long req
  FGprovi02 Long req
  FGprovi03 Date req
  FGprovi04 Text(40) azl
  FGprovi05 Double =0
  FGprovi06 Double =0
  FGprovi07 Long
  index IGprovi01 FGprovi01,FGprovi02,FGprovi03 primary
rel RGproviAsu TAsuntos TGprovi FAsu01>FGprovi01,FAsu02>FGprovi02 4096
rel RGproviFac TMinuta TGprovi FMinuta19>FGprovi07 4096
table TGesNoJudicial
  FGesNJ01 Long
  FGesNJ02 Long
  FGesNJ03 Date req
  FGesNJ04 Long auto
  index Ind_GesNJ FGesNJ04 primary
rel RGesNoJudicial TAsuntos TGesNoJudicial FAsu01>FGesNJ01,FAsu02>FGesNJ02 4096
table TGesNoJudicialSec
  FGesNJS01 Long req
  FGesNJS02 Text(5) notreq
  FGesNJS03 Memo notreq
  FGesNJS04 Boolean
  FGesNJS05 Text(10) notreq azl
  FGesNJS06 Text(5) notreq azl
  FGesNJS07 Byte =0
  index Ind_GesNJS FGesNJS01 primary
rel RGesNoJudicialSec TGesNoJudicial TGesNoJudicialSec FGesNJ04>FGesNJS01 4096
table TGastos
  FGastos01 Long req auto
  FGastos02 Date req
  FGastos03 Text(40)
  FGastos04 Integer req
  FGastos05 Double req
  FGastos06 Single =0
  FGastos07 Single =0
  FGastos08 Boolean =True
  FGastos09 Text(9) azl
  FGastos10 Long req =1
table TcContable
  FcContable01 Long req auto
  FcContable02 Text(9) req
  FcContable03 Text(50) req
  index Indice FcContable02 primary
table TProcesales
  FProcesales01 Long req
  FProcesales02 Long req
  FProcesales03 Date notreq
  FProcesales04 Text(100) =
  FProcesales05 Text(50) =
  FProcesales06 Long auto
  index IProcesales FProcesales06 primary
rel RProcesalesProcesales TAsuntos TProcesales FAsu01>FProcesales01,FAsu02>FProcesales02 4096
table TLaboral
  FLab01 Long req auto
  FLab02 Date
  FLab03 Byte =0
  FLab04 Text(10) azl
  FLab05 Text(10) azl
  FLab06 Text(50) azl
  FLab07 Text(10) azl
  FLab08 Long =0
  FLab09 Date
  FLab10 Date
  FLab11 Text(50) azl
  FLab12 Text(50) azl
  FLab13 Memo azl
  index ILaboral1 FLab01 primary
rel RCliLAb TClientes TLaboral FCli12>FLab01 4096
)";

// The six address tables share this layout ("@dir" above) ...
inline constexpr const char* kGoldenAddressFields = R"(
  FDir01 Long auto
  FDir02 Long req
  FDir03 Text(45) azl
  FDir04 Text(20) azl
  FDir05 Text(20) azl
  FDir06 Text(5) azl
  FDir07 Text(10) azl
  FDir08 Text(10) azl
  FDir09 Text(10) azl
  FDir10 Long
  FDir11 Text(7) azl
  FDir12 Text(100) azl
  FDir13 Text(100) azl
  FDir14 Text(100) azl
)";

// ... and the two expense tables this one ("@expense"; FContable10 takes the
// default written after it, if any).
inline constexpr const char* kGoldenExpenseFields = R"(
  FContable01 Long req
  FContable02 Long req
  FContable03 Date req
  FContable04 Text(40) req
  FContable05 Double
  FContable06 Boolean
  FContable07 Long auto
  FContable08 Single =0
  FContable09 Single =0
  FContable10 Boolean
  FContable11 Text(9) azl
  FContable12 Long
)";
