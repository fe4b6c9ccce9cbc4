* BSC0901NS, N-channel 30 V 1.9 mOhm, maker: Infineon
.model BSC0901NS VDMOS(Rg=0.8 Vto=2.3 Rd=720u Rs=365u Rb=945u Kp=579.7 Lambda=0.07 Cgdmin=72p Cgdmax=1.26n A=0.6 Cgs=2.71n Cjo=3.1n M=0.75 Is=30.7p VJ=2.5 N=1.12 TT=3n Vds=30 Ron=1.9m Qg=21n)
